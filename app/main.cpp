#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog win;
    win.setWindowTitle(QStringLiteral("Reelkeep"));
    auto* layout = new QVBoxLayout(&win);
    layout->addWidget(new QLabel(QStringLiteral("Reelkeep"), &win));
    win.resize(640, 400);
    win.exec();
    return 0;
}
