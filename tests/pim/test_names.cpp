#include "QStringPrinting.h"
#include "pim/records/STNamesAddresses.h"

#include <gtest/gtest.h>

namespace {

QVariantMap fields(const STRecord &r, const QStringList &types)
{
    QVariantMap out;
    for (const QString &t : types)
        if (r.hasFieldOfType(t)) out.insert(t, r.valueForFieldOfType(t));
    return out;
}

QVariantMap parseName(const QString &name, const STNameParser &parser = STNameParser())
{
    STRecord r;
    r.setValue(name, "name");
    EXPECT_TRUE(parser.parse(r));
    return fields(r, {"prefix", "first", "middle", "last", "suffix"});
}

QVariantMap parseAddress(const QString &address, const STStreetAddressParser &parser = STStreetAddressParser())
{
    STRecord r;
    r.setValue(address, "address");
    EXPECT_TRUE(parser.parse(r));
    return fields(r, {"street", "city", "state", "zip", "country"});
}

} // namespace

TEST(Names, SingleTextByPieceCount)
{
    struct Case
    {
        QString name;
        QVariantMap expected;
    } cases[] = {
        {"Ann", {{"first", "Ann"}}},
        {"Ann Lee", {{"first", "Ann"}, {"last", "Lee"}}},
        {"Ann  Lee", {{"first", "Ann"}, {"middle", ""}, {"last", "Lee"}}}, // the empty piece counts
        {"Dr Ann B Lee Jr", {{"prefix", "Dr"}, {"first", "Ann"}, {"middle", "B"}, {"last", "Lee"}, {"suffix", "Jr"}}},
        {"a b c d e f", {{"first", "a b c d e f"}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(contactNameComponentsFromSingleName(c.name, nullptr), c.expected) << c.name.toStdString();
    EXPECT_EQ(singleNameFromContactNameComponents({{"last", "Lee"}, {"prefix", "Dr"}, {"first", "Ann"}}), "Dr Ann Lee");
}

TEST(Names, ParserMatchesWholeWordsLongestFirst)
{
    struct Case
    {
        QString name;
        QVariantMap expected;
    } cases[] = {
        {"Dr John Smith", {{"prefix", "Dr"}, {"first", "John"}, {"last", "Smith"}}},
        {"Mrs. Ann Lee", {{"prefix", "Mrs."}, {"first", "Ann"}, {"last", "Lee"}}},
        {"Drew Barry", {{"first", "Drew"}, {"last", "Barry"}}},
        {"Reverend Doctor Martin King", {{"prefix", "Reverend Doctor"}, {"first", "Martin"}, {"last", "King"}}},
        {"Sammy Davis Jr.", {{"first", "Sammy"}, {"last", "Davis"}, {"suffix", "Jr."}}},
        {"John Smith III", {{"first", "John"}, {"last", "Smith"}, {"suffix", "III"}}},
        {"Hiroshi Shii", {{"first", "Hiroshi"}, {"last", "Shii"}}}, // ends in "ii", carries no suffix
        {"Bob and Alice", {{"first", "Bob and Alice"}}},
        {"Bob & Alice", {{"first", "Bob & Alice"}}},
        {"Dr Smith", {{"prefix", "Dr"}, {"last", "Smith"}}},
        {"Ann Maria de la Cruz", {{"first", "Ann Maria de la"}, {"last", "Cruz"}}},
        {"Ann Maria Lee", {{"first", "Ann"}, {"middle", "Maria"}, {"last", "Lee"}}},
        {"山田 太郎", {{"first", "山田"}, {"last", "太郎"}}},
        {"Dr Ἀλέξανδρος Παπαδόπουλος", {{"prefix", "Dr"}, {"first", "Ἀλέξανδρος"}, {"last", "Παπαδόπουλος"}}},
        {"Zoë Straße", {{"first", "Zoë"}, {"last", "Straße"}}},
        {"Mr 😀👍🏽 Lee", {{"prefix", "Mr"}, {"first", "😀👍🏽"}, {"last", "Lee"}}},
        {"", {}},
    };
    for (const Case &c : cases) EXPECT_EQ(parseName(c.name), c.expected) << c.name.toStdString();
}

TEST(Names, KnownContactsAndTheirTitles)
{
    const STNameParser parser({{{"title", "Prof."}, {"first name", "Ada"}, {"last name", "Byron"}, {"suffix", "PhD"}}});
    EXPECT_TRUE(parser.prefixes().contains("PROF."));
    EXPECT_TRUE(parser.suffixes().contains("PHD"));
    EXPECT_EQ(parseName("Prof. Ada  Byron PhD", parser),
              (QVariantMap{{"prefix", "Prof."}, {"first", "Ada"}, {"last", "Byron"}, {"suffix", "PhD"}}));
    EXPECT_EQ(parseName("Prof. Alan Turing", parser),
              (QVariantMap{{"prefix", "Prof."}, {"first", "Alan"}, {"last", "Turing"}}));
}

TEST(Addresses, SingleTextJoinsWhatIsPresent)
{
    EXPECT_EQ(singleAddressFromAddressComponents(
                  {{"city", "Springfield"}, {"state", "IL"}, {"zip", "62701"}, {"country", "USA"}}),
              "Springfield, IL 62701 USA");
    EXPECT_EQ(singleAddressFromAddressComponents({{"street", "1 Main St"}}), "1 Main St");
    EXPECT_EQ(singleAddressFromAddressComponents({{"street", "1 Main St"}, {"zip", "62701"}}), "1 Main St\n62701");
    EXPECT_EQ(addressComponentsFromSingleAddress("a\nb", nullptr), (QVariantMap{{"street", "a\nb"}}));
}

TEST(Addresses, ParserReadsCityStateZipAndCountry)
{
    struct Case
    {
        QString address;
        QVariantMap expected;
    } cases[] = {
        {"1 Main St\nSpringfield, IL 62701", {{"street", "1 Main St"}, {"city", "Springfield"}, {"state", "IL"}, {"zip", "62701"}}},
        {"1 Main St\nSpringfield, IL 62701-1234\nUSA",
         {{"street", "1 Main St"}, {"city", "Springfield"}, {"state", "IL"}, {"zip", "62701-1234"}, {"country", "USA"}}},
        {"9 King St\nToronto, ON M5V 2T6", {{"street", "9 King St"}, {"city", "Toronto"}, {"state", "ON"}, {"zip", "M5V 2T6"}}},
        {"9 King St\nToronto, ON m5v 2t6", {{"street", "9 King St"}, {"city", "Toronto"}, {"state", "ON m5v 2t6"}}},
        {"5 Elm St\nTopeka KS 66603", {{"street", "5 Elm St"}, {"city", "Topeka"}, {"state", "KS"}, {"zip", "66603"}}},
        {"5 Elm St\nTopeka Kansas 66603", {{"street", "5 Elm St"}, {"city", "Topeka"}, {"state", "Kansas"}, {"zip", "66603"}}},
        {"5 Elm St\nNew York NY 10001", {{"street", "5 Elm St"}, {"city", "New York"}, {"state", "NY"}, {"zip", "10001"}}},
        {"5 Elm St\nRaleigh North Carolina 27601 United States",
         {{"street", "5 Elm St"}, {"city", "Raleigh"}, {"state", "North Carolina"}, {"zip", "27601"}, {"country", "United States"}}},
        {"Suite 4\n5 Elm St\nWashington District of Columbia 20001\nUnited States",
         {{"street", "Suite 4\n5 Elm St"}, {"city", "Washington"}, {"state", "District of Columbia"}, {"zip", "20001"},
          {"country", "United States"}}},
        {"5 Elm St\nLas Vegas 89101", {{"street", "5 Elm St"}, {"city", "Las Vegas"}, {"zip", "89101"}}},
        {"5 Elm St\nSmallville", {{"street", "5 Elm St"}, {"city", "Smallville"}}},
        {"5 Elm St\nSmallville, Kansas", {{"street", "5 Elm St"}, {"city", "Smallville"}, {"state", "Kansas"}}},
        {"1 Main St\nCanada", {{"street", "1 Main St"}, {"country", "Canada"}}},
        {"東京都千代田区1-1", {{"street", "東京都千代田区1-1"}}},
        {"Καλλιδρομίου 5\nΑθήνα 10681", {{"street", "Καλλιδρομίου 5"}, {"city", "Αθήνα"}, {"zip", "10681"}}},
    };
    for (const Case &c : cases) EXPECT_EQ(parseAddress(c.address), c.expected) << c.address.toStdString();
    EXPECT_EQ(STStreetAddressParser::states().size(), 116);

    STRecord none;
    EXPECT_TRUE(STStreetAddressParser().parse(none));
    EXPECT_TRUE(none.fields().empty());
}

TEST(Addresses, KnownAddressesWin)
{
    const STStreetAddressParser parser(
        {{{"street", "1 Main St."}, {"city", "Springfield"}, {"state", "Illinois"}, {"postal code", "62701"}}});
    EXPECT_EQ(parseAddress("1 Main St\nSpringfield Illinois, 62701", parser),
              (QVariantMap{{"street", "1 Main St."}, {"city", "Springfield"}, {"state", "Illinois"}, {"zip", "62701"}}));
}
