#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

// One finding of a scan, and the messages by which findings travel.
namespace hivewise {

// The texts of a finding, handed to it all at once.
struct ProblemTexts {
    std::string_view itemText{};  // the thing judged bad, as the scanner words it
    std::string_view location{};  // key path with the long root name
    std::string_view valueName{};
    std::string_view valueData{};    // usually the path found missing
    std::string_view description{};  // finding text, "%s" left unfilled
};

// A large scan keeps every finding until the end, so the five texts share one heap block,
// back to back, and what findings repeat is not held again: value data equal to the item
// text, and the description, which is one of a few texts kept once for all findings. Each
// text may hold NUL bytes.
class Problem {
  public:
    Problem() = default;
    Problem(int32_t sectionId, const ProblemTexts& texts);
    Problem(const Problem& other);
    Problem(Problem&& other) noexcept;
    Problem& operator=(const Problem& other);
    Problem& operator=(Problem&& other) noexcept;
    ~Problem() = default;

    std::string_view ItemText() const { return Text(kItemText); }
    std::string_view Location() const { return Text(kLocation); }
    std::string_view ValueName() const { return Text(kValueName); }
    std::string_view ValueData() const { return Text(kValueData); }
    std::string_view Description() const { return Text(kDescription); }

    // The location is rewritten after the scan (root names shortened or expanded).
    void SetLocation(std::string_view location) { SetText(kLocation, location); }

    int32_t sectionId = 0;
    int32_t isChecked = 1;
    int32_t sequence = 0;

  private:
    enum Field : size_t { kItemText, kLocation, kValueName, kValueData, kDescription, kFields };

    std::string_view Text(size_t field) const;
    void SetText(size_t field, std::string_view text);
    size_t Size() const { return ends_[kFields - 1]; }

    std::array<uint32_t, kFields> ends_{};  // where each text ends in the block, after a
                                            // byte that says what it does not hold
    std::unique_ptr<char[]> block_;
};

// The program's private window messages.
constexpr unsigned kMsgProblemFound = 34743;
constexpr unsigned kMsgShowSectionDetails = 34744;
constexpr unsigned kMsgIgnoreProblemKey = 34745;

// The receiving end of MSG_PROBLEM_FOUND: takes the record. The scan calls it, from its
// thread or, during a large registry walk, from the walk's second thread (never both at
// once); the window queues the records and hands them over on its own thread in batches.
class ProblemSink {
  public:
    virtual ~ProblemSink() = default;
    virtual void ProblemFound(std::unique_ptr<Problem> problem) = 0;
};

}  // namespace hivewise
