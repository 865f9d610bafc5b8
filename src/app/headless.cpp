#include "app/headless.h"

#include <QCoreApplication>

#include <array>
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

} // namespace

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
