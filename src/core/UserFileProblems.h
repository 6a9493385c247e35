#pragma once

#include <QString>

#include <vector>

namespace telvox {

// Why a line of one of the user's own files (Rings.txt, BlockList.txt, AllowList.txt,
// PhoneBook.txt) was not used as written. The readers report these instead of guessing; the
// program turns them into status lines that name the file, the line and the reason.
enum class LineFault {
    Unreadable,         // the file exists but cannot be read (line 0; `text` holds the reason)
    MatchesEveryCaller, // a block or allow entry with nothing to compare ("*", "-*", "(*")
    NotAnEntry,         // neither a number, a prefix ending in "*", nor one of the words
    NotARingRule,       // not of the form "3,08:00:00-18:00:00,2,3,4,5,6"
    NeverAnswers,       // a ring rule of 0 rings: used, but calls at those times are not answered
    BeyondRuleLimit,    // a ring rule after the twentieth: not used
    PartialRecord,      // PhoneBook.txt: the file ends inside a record (edited as text?)
    NotAPhoneNumber,    // PhoneBook.txt: a record whose telephone holds no digits
};

struct LineProblem
{
    int line = 0;  // 1-based line (or record) number; 0 for the whole file
    LineFault fault = LineFault::NotAnEntry;
    QString text;  // the line as written, or the reason the file cannot be read
    // Whether the line still takes part (a note) or was left out.
    bool used() const { return fault == LineFault::NeverAnswers; }
};

using LineProblems = std::vector<LineProblem>;

} // namespace telvox
