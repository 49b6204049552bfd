#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

struct Rule {
    QMap<QString, QString> matches;     // KEY == value
    QMap<QString, QString> assignments; // KEY = value, KEY += value
    QString line;
};

// Splits the rules file into its rules; a line udev would not parse fails
// the test with the line in the message.
std::vector<Rule> ParseRules(const QString& text) {
    // KEY or KEY{attribute}, an operator, a quoted value.
    static const QRegularExpression pair(QString::fromUtf8(
        R"re(^\s*([A-Z_]+(?:\{[A-Za-z_]+\})?)\s*(==|!=|\+=|:=|=)\s*"([^"]*)"\s*$)re"));
    std::vector<Rule> rules;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        Rule rule;
        rule.line = line;
        for (const QString& part : line.split(QLatin1Char(','))) {
            const auto m = pair.match(part);
            EXPECT_TRUE(m.hasMatch())
                << "unparsable: " << part.toStdString() << " in " << line.toStdString();
            if (!m.hasMatch())
                continue;
            const QString op = m.captured(2);
            auto& into = (op == QLatin1String("==") || op == QLatin1String("!="))
                             ? rule.matches
                             : rule.assignments;
            into.insert(m.captured(1) +
                            (op == QLatin1String("+=") ? QStringLiteral("+") : QString()),
                        m.captured(3));
        }
        rules.push_back(rule);
    }
    return rules;
}

QString RulesText() {
    QFile file(QStringLiteral(KORVINET_UDEV_RULES));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << KORVINET_UDEV_RULES;
    return QString::fromUtf8(file.readAll());
}

TEST(UdevRule, GrantsTheSeatUserEveryFtdiBridge) {
    const auto rules = ParseRules(RulesText());
    for (const char* product : {"6001", "6010", "6011", "6014", "6015"}) {
        const auto it = std::find_if(rules.begin(), rules.end(), [&](const Rule& r) {
            return r.matches.value(QStringLiteral("ATTR{idProduct}")) == QLatin1String(product);
        });
        ASSERT_NE(it, rules.end()) << "no rule for 0403:" << product;
        EXPECT_EQ(it->matches.value(QStringLiteral("SUBSYSTEM")), QStringLiteral("usb"));
        EXPECT_EQ(it->matches.value(QStringLiteral("ATTR{idVendor}")), QStringLiteral("0403"));
        EXPECT_EQ(it->assignments.value(QStringLiteral("TAG+")), QStringLiteral("uaccess"))
            << it->line.toStdString();
        // Never world-writable: access goes to the seat's user and plugdev.
        const QString mode = it->assignments.value(QStringLiteral("MODE"), QStringLiteral("0660"));
        EXPECT_EQ(mode.toInt(nullptr, 8) & 0006, 0) << it->line.toStdString();
    }
}

TEST(UdevRule, GivesPlugdevTheSerialPortsOfEveryBridgeCountersUse) {
    const auto rules = ParseRules(RulesText());
    for (const char* id : {"1a86:7523", "1a86:5523", "10c4:ea60", "067b:2303", "0483:5740",
                           "0403:6001", "0403:6015"}) {
        const QStringList parts = QString::fromLatin1(id).split(QLatin1Char(':'));
        const auto it = std::find_if(rules.begin(), rules.end(), [&](const Rule& r) {
            return r.matches.value(QStringLiteral("SUBSYSTEM")) == QLatin1String("tty") &&
                   r.matches.value(QStringLiteral("ATTRS{idVendor}")) == parts[0] &&
                   r.matches.value(QStringLiteral("ATTRS{idProduct}")) == parts[1];
        });
        ASSERT_NE(it, rules.end()) << "no serial port rule for " << id;
        EXPECT_EQ(it->assignments.value(QStringLiteral("GROUP")), QStringLiteral("plugdev"));
        EXPECT_EQ(it->assignments.value(QStringLiteral("MODE")), QStringLiteral("0660"));
        EXPECT_EQ(it->assignments.value(QStringLiteral("TAG+")), QStringLiteral("uaccess"));
    }
}

TEST(UdevRule, RunsBeforeTheSeatRulesThatActOnUaccess) {
    // udev applies "uaccess" in 73-seat-late.rules; a rule sorting after it
    // would be silently ignored.
    const QString name = QFileInfo(QStringLiteral(KORVINET_UDEV_RULES)).fileName();
    EXPECT_TRUE(name.endsWith(QLatin1String(".rules")));
    EXPECT_LT(name.section(QLatin1Char('-'), 0, 0), QStringLiteral("73")) << name.toStdString();
}

} // namespace
