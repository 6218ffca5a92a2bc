#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "base/safe_open.h"
#include "cli/cli_context.h"

namespace rk::cli {

std::string MessagePrefix(const Context& ctx) {
    return ctx.command.empty() ? std::string("reelkeep-cli: ") : "reelkeep-cli " + ctx.command + ": ";
}

void Fail(Context& ctx, const std::string& text, const std::string& detail) {
    ctx.exitCode = kExitFailed;
    LogMessage(1, "%s%s%s%s%s", MessagePrefix(ctx).c_str(), text.c_str(), detail.empty() ? "" : " (",
               detail.c_str(), detail.empty() ? "" : ")");
    if (ctx.op) {
        ctx.op->ShowMessage(Message{MsgKind::kNotice, MsgIcon::kError, text, detail});
        return;
    }
    std::fprintf(stderr, "%serror: %s%s%s%s\n", MessagePrefix(ctx).c_str(), text.c_str(), detail.empty() ? "" : " (",
                 detail.c_str(), detail.empty() ? "" : ")");
}

std::string ListingField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\%03o", c);
                out += esc;
            } else {
                out += ch;
            }
        }
    }
    return out;
}

void UsageError(Context& ctx, const std::string& text) {
    ctx.exitCode = kExitUsage;
    std::fprintf(stderr, "%s%s\nRun with --help for more information.\n", MessagePrefix(ctx).c_str(), text.c_str());
}

void Note(Context& ctx, const std::string& text) {
    if (ctx.quiet) return;
    std::fprintf(stderr, "%s%s\n", MessagePrefix(ctx).c_str(), text.c_str());
}

bool MayWriteOutput(Context& ctx, const std::string& path, const std::string& cardPath) {
    std::string onCard;
    if (WritesOntoCard(path, cardPath, &onCard)) {
        // Whatever the answer: the output would replace what is being read.
        Fail(ctx, "cannot write the output", onCard);
        return false;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            // The folder it goes into must be there: said now, before any work.
            const std::size_t slash = path.rfind('/');
            const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
            struct stat fst {};
            if (::stat(folder.c_str(), &fst) != 0) {
                Fail(ctx, "cannot write the output", folder + ": " + std::strerror(errno));
                return false;
            }
            if (!S_ISDIR(fst.st_mode)) {
                Fail(ctx, "cannot write the output", folder + ": " + std::strerror(ENOTDIR));
                return false;
            }
            return true;
        }
        Fail(ctx, "cannot write the output", path + ": " + std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(ctx, "cannot write the output", path + ": not a regular file");
        return false;
    }
    const std::string question = path + " exists. Overwrite it?";
    if (ctx.op && ctx.op->ShowMessage(MsgKind::kQuestion, MsgIcon::kQuestion, question) == MsgResult::kYes) return true;
    Fail(ctx, "not overwritten", path + ": exists (--yes overwrites)");
    return false;
}

}  // namespace rk::cli
