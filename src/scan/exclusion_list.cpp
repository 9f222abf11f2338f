#include "scan/exclusion_list.h"

#include <bitset>
#include <cstdint>
#include <vector>

#include "platform/machine/text.h"

namespace hivewise {

const std::array<std::string_view, kExclusionCount> kExclusionList = {
    "software\\microsoft\\windows\\currentversion\\internet settings\\cache\\paths",
    "content.ie5\\cache",
    "advanced inf setup",
    "ie.hklmzoneInfo",
    "ie.hkcuzoneInfo",
    "HKEY_CLASSES_ROOT\\.htc",
    ".htc",
    ".dbx",
    "recycled",
    "recycler",
    ".BAS",
    ".MST",
    ".NCH",
    ".VB",
    "CachePath",
    "svchost",
    "DumpFile",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    ".RAR",
    ".PCD",
    "Services\\mchInjDrv",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\DigitalImaging\\CtxMgr\\Strings",
    "Software\\Microsoft\\MPEG2Demultiplexer\\WriteCaptureDir",
    "HKEY_CLASSES_ROOT\\TypeLib\\{00025E01-0000-0000-C000-000000000046}\\5.0\\HELPDIR",
    "LeadToolsDir",
    "ProjectsPluginsDir",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\DigitalImaging",
    "CoreIncludePath",
    "SdkDvdGraphicsPath",
    "SdkIncludePath",
    "LocalDelta",
    "RemoteDelta",
    "JITSetupPage",
    "blank.htm",
    "HKEY_CLASSES_ROOT\\CLSID\\{0A4550F5-9BC3-4152-B387-A6A92314EFB9}\\InprocServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{8B621BBF-A21D-4311-92E5-A98E7DDDF36A}\\InprocServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{8E16892B-25C6-431f-8297-0EABCF13AC59}\\InprocServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{98F933D7-551D-45c5-A99A-93D438DA87D9}\\InprocServer32",
};

namespace {

// The table as one automaton over folded characters: a finding's text is read once,
// however many entries the table has (every finding of a scan is tested).
class ExclusionMatcher {
  public:
    ExclusionMatcher() {
        // Characters the entries use get classes of their own; all others share class 0.
        for (std::string_view entry : kExclusionList) {
            for (char c : entry) {
                auto& cls = classOf_[static_cast<unsigned char>(AnsiFoldChar(c))];
                if (cls == 0) cls = static_cast<uint8_t>(++classes_);
            }
        }
        ++classes_;
        AddState();
        for (std::string_view entry : kExclusionList) {
            size_t state = 0;
            for (char c : entry) {
                const size_t cls = ClassOf(c);
                if (Next(state, cls) == 0) {
                    // A new state moves the table: the move is written after.
                    const auto added = static_cast<uint32_t>(AddState());
                    Next(state, cls) = added;
                }
                state = Next(state, cls);
            }
            final_[state] = 1;
        }
        // Breadth first, each state's missing moves become those of its longest proper
        // suffix that is a state; a state is final when that suffix is.
        std::vector<size_t> fallback(final_.size(), 0);
        std::vector<size_t> queue;
        for (size_t cls = 0; cls < classes_; ++cls) {
            if (uint32_t next = Next(0, cls)) queue.push_back(next);
        }
        for (size_t head = 0; head < queue.size(); ++head) {
            size_t state = queue[head];
            if (final_[fallback[state]]) final_[state] = 1;
            for (size_t cls = 0; cls < classes_; ++cls) {
                uint32_t& next = Next(state, cls);
                if (next != 0) {
                    fallback[next] = Next(fallback[state], cls);
                    queue.push_back(next);
                } else {
                    next = Next(fallback[state], cls);
                }
            }
        }
        for (size_t byte = 0; byte < byteClass_.size(); ++byte)
            byteClass_[byte] = ClassOf(static_cast<char>(byte));
        // Each move then names where the next state's moves start, and every move into a
        // final state goes to one match state that never leaves: a byte costs one look-up.
        const size_t states = final_.size();
        match_ = static_cast<uint32_t>(AddState() * classes_);
        for (size_t at = 0; at < states * classes_; ++at) {
            const uint32_t next = moves_[at];
            moves_[at] = final_[next] ? match_ : static_cast<uint32_t>(next * classes_);
        }
        for (size_t cls = 0; cls < classes_; ++cls)
            moves_[match_ + cls] = match_;
        ChooseMarks();
    }

    bool Finds(std::string_view text) const {
        // No entry is there without its mark: most texts are let through by a pass whose
        // steps do not wait on one another, and only the others are read by the automaton.
        if (marked_ && !HoldsAMark(text)) return false;
        uint32_t state = 0;
        for (char c : text) {
            state = moves_[state + byteClass_[static_cast<unsigned char>(c)]];
            if (state == match_) return true;
        }
        return false;
    }

  private:
    // How often a character comes in a finding's text, roughly: letters as in English text,
    // then the separators of paths.
    static double Frequency(char folded) {
        static constexpr std::string_view kLetters = "etaoinsrhdlucmwfygpbvkjxqz";
        static constexpr double kLetterFrequency[] = {12,  9,   8,   7.5, 7,    6.7,  6.3, 6,   6,
                                                      4.3, 4,   2.8, 2.8, 2.4,  2.4,  2.2, 2,   2,
                                                      1.9, 1.5, 1,   0.8, 0.15, 0.15, 0.1, 0.07};
        if (size_t at = kLetters.find(folded); at != std::string_view::npos)
            return kLetterFrequency[at];
        if (folded == '\\' || folded == ' ') return 8;
        if ((folded >= '0' && folded <= '9') || folded == '.') return 3;
        return 1.5;
    }

    // Each entry's mark: its three neighbouring characters least likely in a finding's text,
    // which begins with a root name and mostly names common folders.
    void ChooseMarks() {
        static constexpr std::string_view kEverywhere =
            "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\"
            "hkey_current_user\\hkey_users\\hkey_classes_root\\clsid\\c:\\program files\\"
            "path .exe .dll";
        if (classes_ > kMarkClasses) return;
        for (std::string_view entry : kExclusionList) {
            if (entry.size() < 3) return;
        }
        for (std::string_view entry : kExclusionList) {
            size_t best = 0;
            double bestWeight = 0;
            for (size_t i = 0; i + 3 <= entry.size(); ++i) {
                std::string folded;
                for (char c : entry.substr(i, 3))
                    folded += AnsiFoldChar(c);
                double weight = Frequency(folded[0]) * Frequency(folded[1]) * Frequency(folded[2]);
                if (kEverywhere.find(folded) != std::string_view::npos) weight *= 1000;
                if (i == 0 || weight < bestWeight) {
                    bestWeight = weight;
                    best = i;
                }
            }
            marks_.set(
                MarkOf(ClassOf(entry[best]), ClassOf(entry[best + 1]), ClassOf(entry[best + 2])));
        }
        marked_ = true;
    }

    static size_t MarkOf(size_t first, size_t second, size_t third) {
        return first << 12 | second << 6 | third;
    }

    bool HoldsAMark(std::string_view text) const {
        size_t first = 0;
        size_t second = 0;
        for (char c : text) {
            const size_t third = byteClass_[static_cast<unsigned char>(c)];
            if (marks_[MarkOf(first, second, third)]) return true;
            first = second;
            second = third;
        }
        return false;
    }

    uint8_t ClassOf(char c) const { return classOf_[static_cast<unsigned char>(AnsiFoldChar(c))]; }
    uint32_t& Next(size_t state, size_t cls) { return moves_[state * classes_ + cls]; }
    size_t AddState() {
        moves_.resize(moves_.size() + classes_, 0);
        final_.push_back(0);
        return final_.size() - 1;
    }

    std::array<uint8_t, 256> classOf_{};    // of a folded character
    std::array<uint8_t, 256> byteClass_{};  // of any byte, folded first
    size_t classes_ = 0;
    // While building, state * classes_ + class -> state; then the same in row starts.
    std::vector<uint32_t> moves_;
    std::vector<uint8_t> final_;  // while building
    uint32_t match_ = 0;          // the row of the match state
    // Marks as three classes of six bits each; none when the entries do not allow them.
    static constexpr size_t kMarkClasses = 64;
    std::bitset<kMarkClasses * kMarkClasses * kMarkClasses> marks_;
    bool marked_ = false;
};

}  // namespace

bool IsExcluded(std::string_view matchText, const IgnoreList& ignoreList) {
    static const ExclusionMatcher exclusions;
    if (exclusions.Finds(matchText)) return true;
    if (ignoreList.empty()) return false;
    std::string text = AnsiLower(matchText);
    for (const std::string& entry : ignoreList) {
        // An empty entry would be found in every text and hide every finding.
        if (entry.empty()) continue;
        if (text.find(AnsiLower(entry)) != std::string::npos) return true;
    }
    return false;
}

}  // namespace hivewise
