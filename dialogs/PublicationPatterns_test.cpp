#include "dialogs/PublicationPatterns.h"

#include <QTest>

#include "tests/support/qt/GuiTestMain.h"

namespace vantrel {
namespace {

using Strings = std::vector<std::string>;
using Rows = std::vector<PatternRow>;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

QString Joined(const Strings& items)
{
    QStringList list;
    for (const std::string& item : items) {
        list << Q(item);
    }
    return list.join(QLatin1Char('|'));
}

}  // namespace

class PublicationPatternsTest : public QObject
{
    Q_OBJECT

private slots:
    void NormalisePattern_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("folder_style");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("name_form");

        QTest::newRow("plain name") << "index.htm" << false << "*\\index.htm"
                                    << "index.htm";
        QTest::newRow("anchored, slash") << "\\cgi/x.pl" << false << "*\\cgi\\x.pl"
                                         << "cgi\\x.pl";
        QTest::newRow("extension") << "*.log" << false << "*.log"
                                   << "*.log";
        QTest::newRow("two asterisks") << "**" << false << ""
                                       << "";
        QTest::newRow("lone asterisk") << "*" << true << ""
                                       << "";
        QTest::newRow("three asterisks") << "***" << false << ""
                                         << "";
        QTest::newRow("wildcard runs") << "a*?b?*c" << false << "*\\a*b*c"
                                       << "a*b*c";
        QTest::newRow("doubled slashes") << "a//b" << true << "*\\a\\b"
                                         << "a\\b";
        QTest::newRow("folder under") << "logs\\*" << true << "*\\logs\\*"
                                      << "logs\\*";
        QTest::newRow("folder anchored") << "\\private" << true << "\\private"
                                         << "private";
        QTest::newRow("prefix typed") << "*\\index.htm" << false << "*\\index.htm"
                                      << "index.htm";
        QTest::newRow("prefix of a lone asterisk") << "*\\*" << false << "*\\*"
                                                   << "";
        QTest::newRow("empty") << "" << false << ""
                               << "";
    }

    void NormalisePattern()
    {
        QFETCH(QString, typed);
        QFETCH(bool, folder_style);
        QFETCH(QString, stored);
        QFETCH(QString, name_form);
        QCOMPARE(Q(vantrel::NormalisePattern(typed.toStdString(), folder_style)), stored);
        QCOMPARE(Q(NormaliseNamePattern(typed.toStdString())), name_form);
    }

    void StripAnyPrefixAndOnServerAction()
    {
        QCOMPARE(Q(StripAnyPrefix("*\\*\\a")), QString("*\\a"));
        QCOMPARE(Q(StripAnyPrefix("*.log")), QString("*.log"));
        QCOMPARE(Q(StripAnyPrefix("\\*a")), QString("\\*a"));
        const std::pair<const char*, const char*> actions[] = {
            {"Delete", "Delete"},  {"Deletex", "Delete"}, {"Deletei", "Ignore"},
            {"Ignored", "Delete"}, {"ignore", "Ignore"},  {" d ", "Delete"},
            {"", "Ignore"},        {"x", "Ignore"},
        };
        for (const auto& [typed, action] : actions) {
            QCOMPARE(Q(OnServerAction(typed)), QString(action));
        }
    }

    void FillShowsPatternsWithoutThePrefix()
    {
        const Rows rows = ExclusionRows({"*\\b.txt", "*.tmp"}, {"*\\A.doc", "*.TMP"});
        // Sorted with letters folded; letter case makes another pattern, as the run matches.
        const Rows expected = {
            {"*.TMP", "Delete"}, {"*.tmp", "Ignore"}, {"A.doc", "Delete"}, {"b.txt", "Ignore"}};
        QVERIFY(rows == expected);

        Strings ascii = {"*.txt", "*\\index.htm", "*.HTM"};
        QCOMPARE(Joined(TextFileRows(ascii)), QString("*.HTM|*.txt|index.htm"));
        QCOMPARE(Joined(ascii), QString("*.HTM|*.txt|*\\index.htm"));

        Strings permissions = {"*\\x.pl=755", "*.cgi=700", "odd"};
        const Rows shown = PermissionRows(permissions);
        const Rows expected_shown = {{"*.cgi", "700"}, {"x.pl", "755"}, {"odd", ""}};
        QVERIFY(shown == expected_shown);
    }

    void WriteBackRules()
    {
        Strings ignore;
        Strings remove = {"stale"};
        WriteExclusionRows({{"a.log", "Delete"},
                            {"A.LOG", "Ignore"},  // Another pattern: letter case counts.
                            {" b.log ", ""},      // No action counts as "Delete".
                            {"b.log", "Delete"},  // Once.
                            {"**", "Ignore"},     // Dropped.
                            {"", "Ignore"},
                            {"\\root", "Delete"}},
                           false, ignore, remove);
        QCOMPARE(Joined(ignore), QString("*\\A.LOG"));
        QCOMPARE(Joined(remove), QString("*\\a.log|*\\b.log|*\\root"));

        WriteExclusionRows({{"\\cgi", "Ignore"}, {"logs/*", "Delete"}}, true, ignore, remove);
        QCOMPARE(Joined(ignore), QString("\\cgi"));
        QCOMPARE(Joined(remove), QString("*\\logs\\*"));

        // Text files and permissions are matched against bare names: stored without the prefix.
        QCOMPARE(Joined(WriteTextFileRows({"index.htm", "*\\INDEX.htm", "*", "*.txt", " "})),
                 QString("*.txt|index.htm"));
        QCOMPARE(Joined(WritePermissionRows({{"x.pl", "755"},
                                             {"*\\X.PL", "700"},  // Another name.
                                             {"X.PL", "750"},     // The first row wins.
                                             {"y.pl", ""},
                                             {"", "644"},
                                             {"\\a.cgi", " 711 "}})),
                 QString("a.cgi=711|X.PL=700|x.pl=755"));
    }

    // Typed, stored and shown again: the grid shows what was typed, with "/" between folders
    // (a typed "\" too), while the stored form keeps the one a run matches.
    void PatternsShowBackAsTyped()
    {
        const struct
        {
            const char* typed;
            bool folder_style;
            const char* stored;
            const char* shown;
        } kCases[] = {
            {"docs/with space*", false, "*\\docs\\with space*", "docs/with space*"},
            {"/private", true, "\\private", "/private"},
            {"logs\\old", true, "*\\logs\\old", "logs/old"},
        };
        for (const auto& c : kCases) {
            Strings ignore, remove;
            WriteExclusionRows({{c.typed, "Ignore"}}, c.folder_style, ignore, remove);
            QCOMPARE(Joined(ignore), QString(c.stored));
            QCOMPARE(Q(ExclusionRows(ignore, remove).at(0).pattern), QString(c.shown));
        }
    }

    void OlderPrefixedListsComeBackInTheNewForm()
    {
        Strings ascii = {"*\\index.htm", "*.txt"};
        QCOMPARE(Joined(WriteTextFileRows(TextFileRows(ascii))), QString("*.txt|index.htm"));
        Strings permissions = {"*\\x.pl=755"};
        QCOMPARE(Joined(WritePermissionRows(PermissionRows(permissions))), QString("x.pl=755"));
        // Lists already in their stored form come back unchanged.
        Strings ignore = {"*\\a.db", "\\x"};
        Strings remove = {"*.log"};
        Strings ignore_back, remove_back;
        WriteExclusionRows(ExclusionRows(ignore, remove), false, ignore_back, remove_back);
        QCOMPARE(Joined(ignore_back), QString("*\\a.db|*\\x"));  // A root anchor gets "*".
        QCOMPARE(Joined(remove_back), Joined(remove));
    }
};

}  // namespace vantrel

VANTREL_QTEST_MAIN(vantrel::PublicationPatternsTest)
#include "PublicationPatterns_test.moc"
