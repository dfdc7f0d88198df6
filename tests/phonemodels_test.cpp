// The phone model catalogue: its entries stand at fixed indices because the
// options file stores the chosen index.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/application.h"
#include "settings/phonemodels.h"

namespace {

struct MakerRange {
    std::string_view maker;
    int first, last;
    std::string_view firstText, lastText;
};

// Every maker's run of entries, in list order; together they cover 1 to 1047.
constexpr MakerRange kMakers[] = {
    {"Alcatel", 1, 24, "Alcatel 332", "Alcatel OT-S853"},
    {"Audiovox", 25, 29, "Audiovox 8600", "Audiovox PM8920"},
    {"BenQ", 30, 41, "BenQ A500", "BenQ Z2"},
    {"Blackberry", 42, 46, "Blackberry 7100t", "Blackberry 7780"},
    {"Cheacomm", 47, 47, "Cheacomm A90", "Cheacomm A90"},
    {"DBtel", 48, 50, "DBtel 6228", "DBtel 8036"},
    {"Haier", 51, 63, "Haier C230", "Haier Z8000"},
    {"Handspring", 64, 65, "Handspring Treo 270", "Handspring Treo 600"},
    {"Handsring", 66, 66, "Handsring Treo 180", "Handsring Treo 180"},
    {"Huawei", 67, 68, "Huawei U326", "Huawei U626"},
    {"i-mate", 69, 75, "i-mate JAM", "i-mate SP3i"},
    {"Innostream", 76, 91, "Innostream INNO 100", "Innostream INNO P10"},
    {"LG", 92, 198, "LG 3200", "LG W7020"},
    {"Maxon", 199, 206, "Maxon MX-7830", "Maxon MX-V30"},
    {"Mitac", 207, 211, "Mitac E688", "Mitac MIO 8870"},
    {"Mitsubishi", 212, 222, "Mitsubishi M222i", "Mitsubishi M900"},
    {"Motorola", 223, 355, "Motorola A1000", "Motorola V980"},
    {"NEC", 356, 413, "NEC 802", "NEC N940"},
    {"Neonode", 414, 414, "Neonode N1", "Neonode N1"},
    {"Nokia", 415, 513, "Nokia 1600", "Nokia N92"},
    {"O2", 514, 524, "O2 O2", "O2 Xphone 2"},
    {"Orange", 525, 528, "Orange SPV", "Orange SPV E200"},
    {"PalmOne", 529, 532, "PalmOne Treo 180", "PalmOne Treo 650"},
    {"Panasonic", 533, 563, "Panasonic  A200", "Panasonic Z800"},
    {"Pantech", 564, 577, "Pantech G300", "Pantech T919i"},
    {"Philips", 578, 602, "Philips 160", "Philips Xenium 9@9e"},
    {"Sagem", 603, 648, "Sagem my300X", "Sagem Vs3"},
    {"Samsung", 649, 828, "Samsung B100", "Samsung X105"},
    {"Sanyo", 829, 843, "Sanyo 7300", "Sanyo VI2300"},
    {"Sendo", 844, 850, "Sendo M570", "Sendo Z100"},
    {"Sharp", 851, 881, "Sharp 703", "Sharp z800"},
    {"Siemens", 882, 960, "Siemens A31", "Siemens U15"},
    {"Sony Ericsson", 961, 1024, "Sony Ericsson D750i", "Sony Ericsson Z800"},
    {"Tel.Me.", 1025, 1028, "Tel.Me. T910", "Tel.Me. T939"},
    {"Telit", 1029, 1032, "Telit NEO", "Telit X60i"},
    {"Tevion", 1033, 1033, "Tevion MD41900", "Tevion MD41900"},
    {"Toshiba", 1034, 1037, "Toshiba TS21i", "Toshiba TS921"},
    {"Trium", 1038, 1041, "Trium Eclipse", "Trium M341i"},
    {"VKMobile", 1042, 1042, "VKMobile VK570", "VKMobile VK570"},
    {"Wonu", 1043, 1043, "Wonu S1", "Wonu S1"},
    {"Xelibri", 1044, 1047, "Xelibri 5", "Xelibri 8"},
};

// Single entries worth pinning: the ends, the odd spellings, and texts whose
// blanks, brackets or signs are easy to get wrong.
struct Entry {
    int index;
    std::string_view text;
};
constexpr Entry kEntries[] = {
    {0, "[- Choose your mobile -]"},
    {64, "Handspring Treo 270"},
    {66, "Handsring Treo 180"},
    {323, "Motorola V3.5"},
    {356, "NEC 802"},
    {357, "NEC c616v"},
    {507, "Nokia N-Gage QD"},
    {514, "O2 O2"},
    {533, "Panasonic  A200"},
    {534, "Panasonic A210"},
    {602, "Philips Xenium 9@9e"},
    {656, "Samsung SGH-C100 V2"},
    {678, "Samsung SGH-D600(E)"},
    {856, "Sharp GX 1"},
    {878, "Sharp V801 SH"},
    {904, "Siemens C72 (V)"},
    {922, "Siemens CX70 Emoty"},
    {1004, "Sony Ericsson T68i ie"},
    {1048, "Other"},
};

} // namespace

TEST(PhoneModels, CatalogueHoldsEachEntryAtItsIndex)
{
    for (const Entry& e : kEntries)
        EXPECT_EQ(kPhoneModels.at(e.index), e.text) << "entry " << e.index;

    int next = 1;
    for (const MakerRange& m : kMakers) {
        SCOPED_TRACE(std::string(m.maker));
        EXPECT_EQ(m.first, next) << "maker runs must follow each other";
        next = m.last + 1;
        EXPECT_EQ(kPhoneModels.at(m.first), m.firstText);
        EXPECT_EQ(kPhoneModels.at(m.last), m.lastText);
        const std::string prefix = std::string(m.maker) + " ";
        for (int i = m.first; i <= m.last; ++i)
            EXPECT_EQ(kPhoneModels.at(i).substr(0, prefix.size()), prefix) << "entry " << i;
    }
    EXPECT_EQ(next, 1048);

    // Plain ASCII, none empty, no stray blanks; the one double blank is 533's.
    for (int i = 0; i < static_cast<int>(kPhoneModels.size()); ++i) {
        std::string_view t = kPhoneModels[i];
        ASSERT_FALSE(t.empty()) << "entry " << i;
        EXPECT_NE(t.front(), ' ') << "entry " << i;
        EXPECT_NE(t.back(), ' ') << "entry " << i;
        for (char c : t) {
            EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "entry " << i;
        }
        if (i != 533) {
            EXPECT_EQ(t.find("  "), std::string_view::npos) << "entry " << i;
        }
    }
}

TEST(PhoneModels, LoadFillsTheListInOrderAndSelectsThePlaceholder)
{
    ui::Application app;
    ui::Form f(app, "F", "TF");
    ui::ComboBox cb(&f, "ComboBox1");
    // A list that already holds something with a pick made is refilled, not
    // appended to, and the pick goes back to the placeholder.
    cb.SetItems({"stale", "entries"});
    cb.SetItemIndex(1);

    LoadPhoneModels(cb);

    ASSERT_EQ(cb.Items().size(), 1049u);
    for (size_t i = 0; i < cb.Items().size(); ++i)
        EXPECT_EQ(cb.Items()[i], kPhoneModels[i]) << "item " << i;
    EXPECT_EQ(cb.ItemIndex(), 0);

    // The options file may name any index of the list, the last included.
    cb.SetItemIndex(1048);
    EXPECT_EQ(cb.ItemIndex(), 1048);
    cb.SetItemIndex(1049);
    EXPECT_EQ(cb.ItemIndex(), -1);
}
