#include "scan/problem.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace hivewise {
namespace {

using namespace std::string_literals;

using Texts = std::array<std::string, 5>;

Problem Make(const Texts& t, int32_t sectionId = 7) {
    return Problem(sectionId, {t[0], t[1], t[2], t[3], t[4]});
}

void ExpectTexts(const Problem& p, const Texts& t) {
    EXPECT_EQ(p.ItemText(), t[0]);
    EXPECT_EQ(p.Location(), t[1]);
    EXPECT_EQ(p.ValueName(), t[2]);
    EXPECT_EQ(p.ValueData(), t[3]);
    EXPECT_EQ(p.Description(), t[4]);
}

// A text of `length` bytes that differs from the same length in another field.
std::string Text(size_t field, size_t length) {
    std::string text(length, static_cast<char>('a' + field));
    if (length > 1) text[length / 2] = static_cast<char>('0' + length % 10);
    return text;
}

TEST(ProblemTest, EachTextReadsBackWhateverTheLengthsAround) {
    // Empty, the short-string boundary and a long text, in every field beside others.
    for (size_t field = 0; field < 5; ++field) {
        for (size_t length : {0u, 1u, 15u, 16u, 300u}) {
            for (size_t others : {0u, 2u, 40u}) {
                Texts t;
                for (size_t f = 0; f < 5; ++f)
                    t[f] = Text(f, f == field ? length : others);
                SCOPED_TRACE(testing::Message() << field << " " << length << " " << others);
                const Problem p = Make(t, 3);
                EXPECT_EQ(p.sectionId, 3);
                ExpectTexts(p, t);
            }
        }
    }
    const Problem none;
    ExpectTexts(none, {});
    EXPECT_EQ(none.isChecked, 1);
    EXPECT_EQ(none.sequence, 0);
}

TEST(ProblemTest, NulBytesStayInsideTheirText) {
    // Value data may hold NULs, also at its ends, next to the neighbouring texts.
    const Texts t{"item", "HKEY_LOCAL_MACHINE\\X", "\0"s, "\0C:\\a\0b\0"s, "d\0"s};
    const Problem p = Make(t);
    ExpectTexts(p, t);
    EXPECT_EQ(p.ValueData().size(), 8u);

    Problem changed = p;
    changed.SetLocation("\0\0"s);
    ExpectTexts(changed, {"item", "\0\0"s, "\0"s, "\0C:\\a\0b\0"s, "d\0"s});
}

TEST(ProblemTest, CopiesAreDeepAndMovesLeaveAnEmptyRecord) {
    const Texts t{"C:\\x.lnk", "HKEY_CURRENT_USER\\Software\\Long Vendor Name", "Path",
                  "C:\\Program Files\\Gone\\gone.exe", "The file (%s) does not exist"};
    Problem original = Make(t, 12);
    original.isChecked = 0;
    original.sequence = 41;

    Problem copy = original;
    copy.SetLocation("HKCU\\Software");
    ExpectTexts(original, t);
    EXPECT_NE(copy.ItemText().data(), original.ItemText().data());
    EXPECT_EQ(copy.sectionId, 12);
    EXPECT_EQ(copy.isChecked, 0);
    EXPECT_EQ(copy.sequence, 41);

    Problem assigned;
    assigned = original;
    ExpectTexts(assigned, t);
    assigned = static_cast<const Problem&>(assigned);
    ExpectTexts(assigned, t);

    Problem moved = std::move(original);
    ExpectTexts(moved, t);
    EXPECT_EQ(moved.sequence, 41);
    ExpectTexts(original, {});  // a moved-from record is empty

    // A moved-from record takes texts again.
    original.SetLocation("HKLM\\Y");
    ExpectTexts(original, {"", "HKLM\\Y", "", "", ""});
    original = std::move(moved);
    ExpectTexts(original, t);
    EXPECT_EQ(original.sectionId, 12);
}

TEST(ProblemTest, ChangingTheLocationKeepsTheOtherTexts) {
    const Texts t{"item text", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", "name", "C:\\data.exe",
                  "description"};
    auto expectLocation = [&](const Problem& p, std::string_view location) {
        Texts expected = t;
        expected[1] = std::string(location);
        ExpectTexts(p, expected);
    };
    for (std::string_view location :
         {"HKLM\\SOFTWARE\\Vendor", "", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor",
          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\A much longer sub-key than before"}) {
        Problem p = Make(t);
        p.SetLocation(location);
        expectLocation(p, location);
        // Shrinking, then growing again, the same record.
        p.SetLocation("x");
        expectLocation(p, "x");
        p.SetLocation(location);
        expectLocation(p, location);
    }

    // The new location may be a piece of the record's own texts.
    Problem p = Make(t);
    p.SetLocation(p.Location().substr(19));
    expectLocation(p, "SOFTWARE\\Vendor");
    p.SetLocation(p.Description());
    expectLocation(p, "description");
    p.SetLocation(std::string_view(p.ItemText().data(), 20));  // item text and location
    expectLocation(p, "item textdescription");
}

// What findings repeat is held once, and still reads back as each finding's own: value data
// equal to the item text, and descriptions, shared by all findings on any thread, however
// many distinct ones a machine makes them write.
TEST(ProblemTest, RepeatedTextsReadBackAsEachFindingsOwn) {
    const Texts same{"C:\\Gone\\a.exe", "HKEY_CURRENT_USER\\Software\\Run", "A", "C:\\Gone\\a.exe",
                     "The file (%s) does not exist"};
    Problem p = Make(same);
    ExpectTexts(p, same);
    EXPECT_EQ(p.ValueData().data(), p.ItemText().data());
    p.SetLocation("HKCU\\Software\\Run, a longer location than before");
    ExpectTexts(
        p, {same[0], "HKCU\\Software\\Run, a longer location than before", "A", same[3], same[4]});
    const Problem copy = p;
    ExpectTexts(copy, {same[0], std::string(p.Location()), "A", same[3], same[4]});
    EXPECT_EQ(copy.Description().data(), Make(same).Description().data());

    // Short, empty, NUL-holding and very long descriptions, item texts that only begin
    // like the data, and empty data beside an empty item text.
    for (const Texts& t :
         {Texts{"C:\\a", "L", "", "C:\\a.exe", "d"}, Texts{"C:\\a.exe", "L", "", "C:\\a", ""},
          Texts{"", "L", "n", "", "x\0y"s}, Texts{"i", "L", "n", "i", std::string(5000, 'z')}}) {
        ExpectTexts(Make(t), t);
    }

    // Far more distinct descriptions than are kept once, made on several threads at once.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([thread, &wrong] {
            for (int i = 0; i < 3000; ++i) {
                const std::string description =
                    "text " + std::to_string(i % 2500) + " of " + std::to_string(thread % 2);
                const Problem made(1, {.itemText = "i", .description = description});
                if (made.Description() != description || made.ItemText() != "i") ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace hivewise
