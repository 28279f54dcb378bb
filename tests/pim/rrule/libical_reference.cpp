// Expands recurrence rules with libical's own iterator, as a reference for
// the tests. Reads lines "RULE<TAB>START<TAB>LIMIT[<TAB>ZONE]" (a start
// "yyyymmddThhmmss" floating or in the named zone, or a day "yyyymmdd") and
// writes one line per rule: its occurrences as wall-clock texts (or days)
// separated by blanks, or "!" when libical did not finish within 0.2 s
// or crashed. The rules are expanded in a child process that is replaced
// when it stalls or crashes: libical's iterator looks for a next occurrence of
// a rule that has none until the year 2582 (second by second for a secondly
// rule), and some rules crash it.
#include <libical/ical.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string expand(const char *rule, const char *start, int limit, const std::string &zone)
{
    std::string out;
    const icalrecurrencetype r = icalrecurrencetype_from_string(rule);
    if (r.freq == ICAL_NO_RECURRENCE) return "\n";
    icaltimetype s = icaltime_from_string(start);
    if (!zone.empty())
        s = icaltime_set_timezone(&s, zone == "UTC" ? icaltimezone_get_utc_timezone()
                                                    : icaltimezone_get_builtin_timezone(zone.c_str()));
    icalrecur_iterator *it = icalrecur_iterator_new(r, s);
    for (int n = 0; it && n < limit; ++n) {
        const icaltimetype t = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(t)) break;
        char text[32];
        if (t.is_date)
            std::snprintf(text, sizeof text, "%s%04d%02d%02d", n ? " " : "", t.year, t.month, t.day);
        else
            std::snprintf(text, sizeof text, "%s%04d%02d%02dT%02d%02d%02d", n ? " " : "", t.year, t.month, t.day,
                          t.hour, t.minute, t.second);
        out += text;
    }
    if (it) icalrecur_iterator_free(it);
    return out + "\n";
}

struct Rule
{
    std::string rule, start;
    int limit;
    std::string zone;
};

// Expands rules[from..] in a child process, one line each, and copies its
// lines out; answers how many it gave before it ended or stalled for
// 0.2 s (a stalled or crashed child is killed).
size_t inChild(const std::vector<Rule> &rules, size_t from)
{
    int fds[2];
    if (pipe(fds) != 0) return 0;
    const pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid == 0) {
        close(fds[0]);
        for (size_t i = from; i < rules.size(); ++i) {
            const std::string line = expand(rules[i].rule.c_str(), rules[i].start.c_str(), rules[i].limit, rules[i].zone);
            for (size_t done = 0; done < line.size();) {
                const ssize_t n = write(fds[1], line.data() + done, line.size() - done);
                if (n <= 0) _exit(1);
                done += size_t(n);
            }
        }
        _exit(0);
    }
    close(fds[1]);
    size_t given = 0;
    std::string pending;
    pollfd p{fds[0], POLLIN, 0};
    char buffer[65536];
    for (;;) {
        if (poll(&p, 1, 200) <= 0) break;
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        pending.append(buffer, size_t(n));
        for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
            std::fwrite(pending.data(), 1, eol + 1, stdout);
            pending.erase(0, eol + 1);
            ++given;
        }
    }
    close(fds[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return given;
}

} // namespace

int main()
{
    std::vector<Rule> rules;
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        char *rule = std::strtok(line, "\t\n");
        char *start = std::strtok(nullptr, "\t\n");
        char *limit = std::strtok(nullptr, "\t\n");
        char *zone = std::strtok(nullptr, "\t\n");
        rules.push_back({rule ? rule : "", start ? start : "", limit ? std::atoi(limit) : 0, zone ? zone : ""});
    }
    for (size_t next = 0; next < rules.size();) {
        next += inChild(rules, next);
        if (next < rules.size()) {
            std::puts("!"); // the rule the child stalled or crashed on
            ++next;
        }
    }
    std::fflush(stdout);
    return 0;
}
