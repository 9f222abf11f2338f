#pragma once

#include <cstdint>
#include <memory>
#include <string>

// One finding of a scan, and the messages by which findings travel.
namespace hivewise {

struct Problem {
    int32_t sectionId = 0;
    std::string itemText;  // the thing judged bad, as the scanner words it
    std::string location;  // key path with the long root name
    std::string valueName;
    std::string valueData;    // usually the path found missing
    std::string description;  // finding text, "%s" left unfilled
    int32_t isChecked = 1;
    int32_t sequence = 0;
};

// The program's private window messages.
constexpr unsigned kMsgProblemFound = 34743;
constexpr unsigned kMsgShowSectionDetails = 34744;
constexpr unsigned kMsgIgnoreProblemKey = 34745;

// The receiving end of MSG_PROBLEM_FOUND: takes the record. The scan thread calls it;
// the window queues the records and hands them over on its own thread in batches.
class ProblemSink {
  public:
    virtual ~ProblemSink() = default;
    virtual void ProblemFound(std::unique_ptr<Problem> problem) = 0;
};

}  // namespace hivewise
