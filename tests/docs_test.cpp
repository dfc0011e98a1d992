// The pages a tester reads stay true: every option, modifier, report kind,
// field and exit status the code has is documented, and every example the
// pages show runs and prints what they say it prints.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/options.h"
#include "layout/report_layout.h"
#include "tests/child_process.h"
#include "tests/scratch.h"

namespace {

namespace fs = std::filesystem;

std::string source(const std::string& path) { return read_file(std::string(QUORVEX_SOURCE_DIR) + "/" + path); }

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// NAME in text, not as part of a longer word ("/all" is not in "/allx").
bool has_word(const std::string& text, const std::string& name) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const bool starts = at == 0 || !word_char(text[at - 1]) || !word_char(name[0]);
        const size_t end = at + name.size();
        if (starts && (end == text.size() || !word_char(text[end]))) return true;
    }
    return false;
}

bool heading(const std::string& line) { return !line.empty() && line[0] == '#'; }

// The lines under the first heading that holds name, to the next heading of
// the same level or above; empty when no heading holds it.
std::vector<std::string> section(const std::vector<std::string>& page, const std::string& name) {
    std::vector<std::string> lines;
    size_t level = 0;
    bool fenced = false;
    for (const std::string& line : page) {
        if (line.rfind("```", 0) == 0) fenced = !fenced;
        if (!fenced && heading(line)) {
            const size_t this_level = line.find_first_not_of('#');
            if (level != 0 && this_level <= level) break;
            if (level == 0 && has_word(line, name)) level = this_level;
        }
        if (level != 0) lines.push_back(line);
    }
    return lines;
}

// A table row whose first cell names `name`.
const std::string* row_of(const std::vector<std::string>& lines, const std::string& name) {
    for (const std::string& line : lines) {
        if (line.rfind("| ", 0) != 0) continue;
        const std::string first = line.substr(0, line.find('|', 1));
        if (has_word(first, name)) return &line;
    }
    return nullptr;
}

}  // namespace

TEST(Docs, UsageHasASectionForEveryOptionAndModifier) {
    const std::vector<std::string> usage = lines_of(source("docs/usage.md"));
    for (size_t i = 0; i < QUORVEX_OPTION_COUNT; ++i)
        EXPECT_FALSE(section(usage, std::string("`") + QUORVEX_OPTIONS[i].option).empty())
            << "docs/usage.md has no heading naming `" << QUORVEX_OPTIONS[i].option << "`";
    for (size_t i = 0; i < QUORVEX_MODIFIER_COUNT; ++i)
        EXPECT_FALSE(section(usage, std::string("`") + QUORVEX_MODIFIERS[i].form).empty())
            << "docs/usage.md has no heading naming `" << QUORVEX_MODIFIERS[i].form << "`";
}

// The statuses are read from the enum's own text, so that a new one needs its row.
TEST(Docs, UsageHasARowForEveryExitStatus) {
    const std::string header = source("app/testquorvex.h");
    const size_t begin = header.find("enum exit_status {");
    ASSERT_NE(begin, std::string::npos);
    const std::string body = header.substr(begin, header.find("};", begin) - begin);
    const std::regex value(R"(\n\s*EXIT_\w+\s*=\s*(\d+))");
    const std::vector<std::string> table = section(lines_of(source("docs/usage.md")), "Exit status");
    ASSERT_FALSE(table.empty()) << "docs/usage.md has no section \"Exit status\"";
    int statuses = 0;
    for (auto match = std::sregex_iterator(body.begin(), body.end(), value); match != std::sregex_iterator(); ++match) {
        ++statuses;
        const std::string status = (*match)[1];
        EXPECT_NE(row_of(table, status), nullptr) << "docs/usage.md's exit status table has no row for " << status;
    }
    EXPECT_GE(statuses, 7);
}

TEST(Docs, ScriptsNameEveryKindAndFieldWithItsRange) {
    const std::vector<std::string> scripts = lines_of(source("docs/scripts.md"));
    size_t count = 0;
    const layout_kind* kinds = layout_kinds(&count);
    for (size_t k = 0; k < count; ++k) {
        const layout_kind& kind = kinds[k];
        const std::vector<std::string> lines = section(scripts, std::string("`") + kind.name + "`");
        if (lines.empty()) {
            ADD_FAILURE() << "docs/scripts.md has no heading naming `" << kind.name << "`";
            continue;
        }
        auto check = [&](const layout_field& field) {
            const std::string* row = row_of(lines, "`" + std::string(field.name) + "`");
            if (row == nullptr) {
                ADD_FAILURE() << "docs/scripts.md: `" << kind.name << "` has no row for its field `" << field.name << "`";
                return;
            }
            if (field.style != field_style::number && field.style != field_style::hex_byte) return;
            const std::string range = "0 to " + std::to_string(layout_field_max(field));
            EXPECT_NE(row->find(range), std::string::npos)
                << "docs/scripts.md: `" << kind.name << "`'s field `" << field.name << "` is not said to hold " << range;
        };
        for (int i = 0; i < kind.group_field_count; ++i) check(kind.group_fields[i]);
        for (int i = 0; i < kind.field_count; ++i) check(kind.fields[i]);
    }
}

// CI runs the README's test command, and the README's host command is the one
// the suite's own CTest case runs (tests/readme_host_command.sh).
TEST(Docs, ReadmeNamesTheCommandsCiAndTheSuiteRun) {
    const std::string readme = source("README.md");
    EXPECT_NE(readme.find("\n    cmake --workflow --preset host && build/host/testquorvex /mouse\n"), std::string::npos);
    std::string last;
    for (const std::string& line : lines_of(source(".ci/run")))
        if (!line.empty() && line[0] != '#') last = line;
    EXPECT_EQ(last, "tools/test");
    EXPECT_NE(readme.find("\n    " + last + "\n"), std::string::npos) << "README.md does not show .ci/run's " << last;
}

// ---- the examples: fenced blocks that show a command and its output ----
//
// A block whose first line is "# QUORVEX_SIM=SCENARIO" holds "> testquorvex
// ARGS" lines, each followed by the output the run prints and, when it is not
// 0, "> echo %ERRORLEVEL%" and the status; a line "[...]" stands for one or
// more lines of output. "# file: NAME" writes the rest of
// the block to NAME, for the examples after it. "# not run: WHY" marks one that
// only makes sense on Windows. Each page's examples run in turn in a folder of
// their own that holds a copy of examples/; the folder's path followed by a
// slash is shown as C:\tests\, and blanks at a line's end do not count.

namespace {

constexpr char kCommand[] = "> testquorvex";
constexpr char kStatus[] = "> echo %ERRORLEVEL%";
constexpr char kShownFolder[] = "C:\\tests\\";
constexpr char kElided[] = "[...]";
// What cmd shows for a process Ctrl+C ended: STATUS_CONTROL_C_EXIT.
constexpr int kControlCStatus = -1073741510;

std::string trimmed(std::string line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
    return line;
}

// As the C runtime splits a command line: blanks part arguments, quotes group them.
std::vector<std::string> arguments_of(const std::string& line) {
    std::vector<std::string> args;
    std::string arg;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any) args.push_back(arg);
            arg.clear();
            any = false;
        } else {
            arg += c;
            any = true;
        }
    }
    if (any) args.push_back(arg);
    return args;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

struct fenced_block {
    int line;  // of its first line, from 1
    std::vector<std::string> lines;
};

std::vector<fenced_block> fenced_blocks(const std::string& page) {
    std::vector<fenced_block> blocks;
    bool inside = false;
    int number = 0;
    for (const std::string& line : lines_of(page)) {
        ++number;
        if (line.rfind("```", 0) == 0) {
            inside = !inside;
            if (inside) blocks.push_back({number + 1, {}});
        } else if (inside) {
            blocks.back().lines.push_back(trimmed(line));
        }
    }
    return blocks;
}

// want[i...] against got[j...]: each "[...]" takes one or more lines, none of
// them a command's.
bool lines_match(const std::vector<std::string>& want, size_t i, const std::vector<std::string>& got, size_t j) {
    if (i == want.size()) return j == got.size();
    if (want[i] == kElided) {
        for (size_t k = j; k < got.size() && got[k].rfind("> ", 0) != 0; ++k)
            if (lines_match(want, i + 1, got, k + 1)) return true;
        return false;
    }
    return j < got.size() && want[i] == got[j] && lines_match(want, i + 1, got, j + 1);
}

// The block as it runs in folder now, in the block's own form.
std::string run_block(const fenced_block& block, const std::string& folder) {
    const std::string scenario = block.lines[0].substr(std::strlen("# QUORVEX_SIM="));
    std::string ran = block.lines[0] + "\n";
    for (size_t i = 1; i < block.lines.size(); ++i) {
        const std::string& line = block.lines[i];
        if (line.rfind(kCommand, 0) != 0) continue;
        const bool status_shown = i + 1 < block.lines.size() && [&] {
            size_t j = i + 1;
            while (j < block.lines.size() && block.lines[j].rfind("> ", 0) != 0) ++j;
            return j < block.lines.size() && block.lines[j] == kStatus;
        }();
        std::vector<std::string> argv = {"/usr/bin/env", "-C", folder, TESTQUORVEX_EXE};
        for (const std::string& arg : arguments_of(line.substr(std::strlen(kCommand)))) argv.push_back(arg);
        child_process child = start_child(argv, {"QUORVEX_SIM=" + scenario});
        const child_result result = finish_child(child, 120000);
        ran += line + "\n";
        for (const std::string& out : lines_of(replaced(result.out, folder + "/", kShownFolder)))
            ran += trimmed(out) + "\n";
        const int status = result.signal == SIGINT ? kControlCStatus : result.status;
        if (result.timed_out) ran += "(still running after 120 s)\n";
        if (status != 0 || status_shown || result.signal != 0)
            ran += std::string(kStatus) + "\n" +
                   (result.signal != 0 && result.signal != SIGINT ? "signal " + std::to_string(result.signal)
                                                                   : std::to_string(status)) +
                   "\n";
    }
    return ran;
}

std::vector<std::string> pages() {
    std::vector<std::string> names = {"README.md"};
    std::vector<std::string> docs;
    for (const auto& entry : fs::directory_iterator(std::string(QUORVEX_SOURCE_DIR) + "/docs"))
        if (entry.path().extension() == ".md") docs.push_back("docs/" + entry.path().filename().string());
    std::sort(docs.begin(), docs.end());
    names.insert(names.end(), docs.begin(), docs.end());
    return names;
}

}  // namespace

TEST(Docs, EveryExampleRunsAndPrintsWhatThePageShows) {
    int ran = 0;
    for (const std::string& page : pages()) {
        const std::string folder = scratch_path("docs-" + fs::path(page).stem().string());
        fs::create_directories(folder + "/examples");
        for (const auto& entry : fs::directory_iterator(std::string(QUORVEX_SOURCE_DIR) + "/examples"))
            fs::copy_file(entry.path(), folder + "/examples/" + entry.path().filename().string(),
                          fs::copy_options::overwrite_existing);
        for (const fenced_block& block : fenced_blocks(source(page))) {
            if (block.lines.empty()) continue;
            const std::string& first = block.lines[0];
            std::string shown;
            for (const std::string& line : block.lines) shown += line + "\n";
            if (first.rfind("# not run: ", 0) == 0) continue;
            if (first.rfind("# file: ", 0) == 0) {
                std::ofstream(folder + "/" + first.substr(std::strlen("# file: ")), std::ios::binary)
                    << shown.substr(first.size() + 1);
                continue;
            }
            if (first.rfind("# QUORVEX_SIM=", 0) != 0) {
                EXPECT_EQ(shown.find(kCommand), std::string::npos)
                    << page << ":" << block.line << ": an example that names no scenario (# QUORVEX_SIM=...) "
                    << "and is not marked \"# not run: WHY\"";
                continue;
            }
            ++ran;
            const std::string now = run_block(block, folder);
            if (!lines_match(block.lines, 0, lines_of(now), 0))
                ADD_FAILURE() << page << ":" << block.line
                              << ": the example prints otherwise now; as it runs (what the page left out as "
                              << kElided << " shown whole):\n```\n" << now << "```";
        }
        fs::remove_all(folder);
    }
    EXPECT_GE(ran, 10);
}

// Whatever script is added to examples/ is played too.
TEST(Docs, EveryExampleScriptPlays) {
    for (const auto& entry : fs::directory_iterator(std::string(QUORVEX_SOURCE_DIR) + "/examples")) {
        child_process child = start_child({TESTQUORVEX_EXE, "/play:" + entry.path().string()}, {"QUORVEX_SIM=clock=virtual"});
        const child_result result = finish_child(child, 120000);
        EXPECT_EQ(result.status, 0) << entry.path() << "\n" << result.out;
        EXPECT_NE(result.out.find(", 0 refused"), std::string::npos) << entry.path() << "\n" << result.out;
    }
}
