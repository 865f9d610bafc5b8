#include "app/headless.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace taskhaul {

namespace {

struct HeadlessOption {
    std::string_view name;
    int (*handler)(const QStringList&);
};

constexpr std::array kOptions {
    HeadlessOption { "--help", &runHelp },
    HeadlessOption { "--version", &runVersion },
    HeadlessOption { "--expand", &runExpand },
    HeadlessOption { "--match", &runMatch },
    HeadlessOption { "--parse-listing", &runParseListing },
    HeadlessOption { "--run-once", &runOnce },
    HeadlessOption { "--preview", &runPreview },
    HeadlessOption { "--systemd-timer", &runSystemdTimer },
};

constexpr int kExitUsage = 2;

} // namespace

std::optional<int> refuseWindowOptions(int argc, char** argv)
{
    for (int index = 1; index < argc; ++index) {
        const std::string_view word = argv[index];
        if (!word.starts_with("--"))
            continue;
        const bool known = std::any_of(kOptions.begin(), kOptions.end(),
            [word](const HeadlessOption& option) { return option.name == word; });
        if (known)
            std::fprintf(stderr, "The option %s must be the first word.\n\n", argv[index]);
        else
            std::fprintf(stderr, "Unknown option %s\n\n", argv[index]);
        printUsage(stderr);
        return kExitUsage;
    }
    return std::nullopt;
}

std::optional<int> runHeadless(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const std::string_view first = argv[1];
    for (const auto& option : kOptions) {
        if (first != option.name)
            continue;
        QCoreApplication app(argc, argv);
        QStringList args = QCoreApplication::arguments().mid(2);
        return option.handler(args);
    }
    return std::nullopt;
}

} // namespace taskhaul
