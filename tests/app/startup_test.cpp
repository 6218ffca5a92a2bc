// Start-up of the real program: one instance at a time, the second ending at
// once without a window or a word; --help and --version answered before
// anything else.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace rk {
namespace {

TEST(Startup, SecondInstanceEndsSilentlyWhileTheFirstRuns) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/reelkeep");
    if (!QFile::exists(program)) GTEST_SKIP() << "reelkeep not built";
    QTemporaryDir runtime, config, cards;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("REELKEEP_CARD_DIR"), cards.path());

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    // Give it time to take the lock and show its window.
    QTest::qWait(1500);
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(20000)) << "the second instance kept running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    if (!first.waitForFinished(10000)) {
        first.kill();
        first.waitForFinished(5000);
    }
}

TEST(Startup, HelpAndVersionPrintAndEndWithoutAWindow) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/reelkeep");
    if (!QFile::exists(program)) GTEST_SKIP() << "reelkeep not built";
    const struct {
        const char* option;
        const char* starts;
    } rows[] = {{"--version", "reelkeep "}, {"--help", "Usage: reelkeep"}, {"-h", "Usage: reelkeep"}};
    for (const auto& row : rows) {
        QProcess p;
        // No display at all: an answer that opened a window would fail here.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        p.setProcessEnvironment(env);
        p.start(program, {QString::fromLatin1(row.option)});
        ASSERT_TRUE(p.waitForFinished(20000)) << row.option;
        EXPECT_EQ(p.exitCode(), 0) << row.option;
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_TRUE(out.startsWith(QLatin1String(row.starts))) << out.toStdString();
        EXPECT_TRUE(out.endsWith(QLatin1Char('\n')));
    }
}

}  // namespace
}  // namespace rk
