// Message texts and the hook that stands in for the message boxes.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ui/widgets/Messages.h"

namespace {

TEST(Messages, ReportTextFullStopRule) {
    struct Row {
        const char* name;
        QString in;
        QString out;
    };
    const Row rows[] = {
        {"plain text gets a stop", QStringLiteral("Socket error"), QStringLiteral("Socket error.")},
        {"already ends with a stop", QStringLiteral("Done."), QStringLiteral("Done.")},
        {"ends with a character before the stop", QStringLiteral("Failed -"),
         QStringLiteral("Failed -")},
        {"ends with a space", QStringLiteral("Failed "), QStringLiteral("Failed ")},
        {"ends with a slash, which sorts after", QStringLiteral("a/"), QStringLiteral("a/.")},
        {"Cyrillic gets a stop", QStringLiteral("Ошибка"), QStringLiteral("Ошибка.")},
        {"question mark sorts after", QStringLiteral("Why?"), QStringLiteral("Why?.")},
        {"empty stays empty", QString(), QString()},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ui::reportText(r.in), r.out) << r.name;
    }
}

TEST(Messages, HookRecordsBothKindsAndGuardContainsErrors) {
    std::vector<ui::Message> seen;
    ui::ScopedMessageHook hook([&](const ui::Message& m) { seen.push_back(m); });
    ui::showError(nullptr, QStringLiteral("Включите трассировку принимаемых посылок"));
    ui::guarded(nullptr,
                [] { throw std::invalid_argument("Axis maximum value must be >= minimum"); });
    bool ran = false;
    ui::guarded(nullptr, [&] { ran = true; });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].kind, ui::MessageKind::Error);
    EXPECT_EQ(seen[0].caption, QStringLiteral("Ошибка"));
    EXPECT_EQ(seen[0].text, QStringLiteral("Включите трассировку принимаемых посылок"));
    EXPECT_EQ(seen[1].kind, ui::MessageKind::Exception);
    EXPECT_EQ(seen[1].text, QStringLiteral("Axis maximum value must be >= minimum."));
    EXPECT_TRUE(ran);
}

}  // namespace
