// How the companion answers when nobody sits in front of it: a script from its environment
// (inherited from the host), and a log of every request it received.
//
//   KYRO_VEX_ANSWERS="MessageBox=1;PrivacyPolicyDialog=3@250;ErrorDialog=none;*=0"
//
// Each entry is <name>=<answer>[@<delay in ms>], where the name is a request's full name
// ("vex.MessageBox") or its method alone ("MessageBox"), tried in that order; "*" stands
// for every dialog request the script does not name. An answer is
//   a number   reply with that "selected_button"
//   reply      reply without "selected_button"
//   default    the answer nobody in front of the companion would give (below), such as a
//              message box's "focus_button_index"
//   none       never reply (the caller keeps waiting, as for a person who never decides)
//   exit       end the companion at once, without a reply (also on a request sent
//              without waiting, such as the please-wait indication)
// The delay comes before the answer. Without the variable, or with it empty, a person
// answers in a real window where one can be shown (PersonWindows.h); where none can (no
// display), the default answers apply: a message box answers its "focus_button_index", the
// privacy-policy dialog 2 (no consent without a person), the other requests reply without
// "selected_button".
//
// For tests of the host's side, a number, "reply" or "default" may be followed by "+" and
// a fault, and a fault may stand alone (then the default answer is the reply it spoils):
//   +exit       reply, then end the companion at once
//   +slowExit   reply, then end, but hold the presence lock for 600 ms after the pipes are
//               closed (as an ending process does while a loaded system tears it down)
//   +cut        write the first half of the reply line, without its line end, and end
//   +cutEscape  write the reply line up to the middle of an escape ("!" and one digit of
//               its two), and end
//   +cutClose   reply; then answer the connection's "system.cndTerm" with the first half
//               of a line, and end
//   +garbage    before the reply, lines that are no packets or are malformed: empty, text,
//               another version, control and high bytes, bad numbers and escapes, 1 MiB
//   +stray      before the reply, replies for sessions that do not exist
//   +huge       before the reply, one line of 32 MiB addressed to the waiting session
//               (longer than a reader takes, so it must be dropped)
//   +flood      before the reply, empty lines, up to 64 MiB of them or until the client
//               takes no more (more lines than a reader holds, so it must cut the
//               companion off)
// On a request sent without waiting, the faults that end the companion end it, and the
// others write their lines with no reply after them.
//
//   KYRO_VEX_REQUEST_LOG=<file>
//
// appends every request, as the line that arrived, to that file.
#ifndef KYRO_COMPANION_COMPANIONSCRIPT_H
#define KYRO_COMPANION_COMPANIONSCRIPT_H

#include <map>
#include <string>

namespace kyro::companion {

struct Answer {
    // Person: no script at all, ask a person where a dialog can be shown, else Default.
    // Default: the default answer described above.
    enum Kind { Button, Reply, None, Exit, Default, Person } kind = Person;
    // What goes wrong on purpose around the reply (see above).
    enum Fault { NoFault, ExitAfter, SlowExit, Cut, CutEscape, CutClose, Garbage, Stray, Huge, Flood };
    Fault fault = NoFault;
    int button = 0;
    int delayMs = 0;
};

class CompanionScript {
public:
    // Reads KYRO_VEX_ANSWERS and KYRO_VEX_REQUEST_LOG.
    CompanionScript();

    // How to answer a request.
    Answer answerFor(const std::string& facility, const std::string& method) const;

    // Appends one received line to the request log, if there is one.
    void record(const std::string& line) const;

    // Parses a script text; entries that make no sense are left out.
    static std::map<std::string, Answer> parse(const std::string& script);

private:
    std::map<std::string, Answer> m_answers;
    bool m_scripted = false;
    std::string m_logPath;
};

}  // namespace kyro::companion

#endif
