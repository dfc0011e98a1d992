#!/usr/bin/env python3
"""Finds what only GCC and Clang accept in the program's own code, which
Visual Studio must build too: attributes and builtins, statement expressions,
typeof, case ranges, and arrays whose bound is not a constant.

    portable_code.py SOURCE_DIR [FOLDER...]

Prints one line per finding and exits 1 when there is any. The folders default
to the program's own, apart from platform/, which is where such things belong;
the constants that bounds may name are gathered from platform/ as well."""

import os
import re
import sys

PROGRAM = ["app", "client", "reports", "script", "layout", "device"]
SUFFIXES = (".cpp", ".h", ".hpp", ".cc")
KEYWORDS = {"return", "delete", "case", "else", "throw", "goto", "do", "new", "sizeof", "co_return", "co_yield"}


def code_only(text):
    """The text with comments, string and character literals blanked and
    line breaks kept, so that what is reported keeps its line number."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i)
            delimiter = text[i + 2:open_paren]
            j = text.find(")" + delimiter + '"', open_paren)
            j = n if j < 0 else j + len(delimiter) + 2
            out.append('""' + re.sub(r"[^\n]", " ", text[i + 2:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            # A digit separator (1'000) is no literal.
            if c == "'" and i > 0 and text[i - 1].isalnum():
                out.append(c)
                i += 1
                continue
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def sources(root, folders):
    for folder in folders:
        for directory, _, names in sorted(os.walk(os.path.join(root, folder))):
            for name in sorted(names):
                if name.endswith(SUFFIXES):
                    yield os.path.join(directory, name)


def constants(root, folders):
    """Names that a constant expression may use: macros, constexpr and const
    objects, enumerators, and types (as in sizeof)."""
    names = set()
    for path in sources(root, folders + ["platform"]):
        code = code_only(open(path, encoding="utf-8", errors="replace").read())
        names.update(re.findall(r"#\s*define\s+(\w+)", code))
        names.update(re.findall(r"\b(?:constexpr|const)\b[\w\s:<>,*&]*?\b(\w+)\s*(?:\[[^\]]*\]\s*)*(?:=|\{|;)", code))
        names.update(re.findall(r"\b(?:struct|class|union|enum|using|typedef)\s+(?:class\s+)?(\w+)", code))
        for body in re.findall(r"\benum\b[^{;]*\{([^}]*)\}", code):
            names.update(re.findall(r"(?:^|,)\s*(\w+)", body))
    return names


def line_of(code, at):
    return code.count("\n", 0, at) + 1


def statement_expressions(code):
    """({ ... }) with a statement directly inside: a braced list never has a
    semicolon at its own level, a statement expression always does."""
    for match in re.finditer(r"\(\s*\{", code):
        depth, i = 0, match.end() - 1
        has_statement = False
        while i < len(code):
            if code[i] == "{":
                depth += 1
            elif code[i] == "}":
                depth -= 1
                if depth == 0:
                    break
            elif code[i] == ";" and depth == 1:
                has_statement = True
            i += 1
        if has_statement and re.match(r"\s*\)", code[i + 1:]):
            yield match.start()


def bound_names(bound):
    bound = re.sub(r"\bsizeof\s*\([^()]*(?:\([^()]*\)[^()]*)*\)", " ", bound)
    bound = re.sub(r"\b\d\w*", " ", bound)
    return [name for name in re.findall(r"[A-Za-z_]\w*", bound) if name not in KEYWORDS]


def findings(root, folders):
    known = constants(root, folders)
    found = []
    for path in sources(root, folders):
        code = code_only(open(path, encoding="utf-8", errors="replace").read())
        where = os.path.relpath(path, root)

        def report(at, what):
            found.append("%s:%d: %s" % (where, line_of(code, at), what))

        for match in re.finditer(r"\b__attribute__\b", code):
            report(match.start(), "__attribute__: a GNU attribute")
        for match in re.finditer(r"\b__builtin_\w*", code):
            report(match.start(), "%s: a GNU builtin" % match.group(0))
        for match in re.finditer(r"\b(?:typeof|__typeof__|__typeof)\b", code):
            report(match.start(), "%s: GNU typeof" % match.group(0))
        for match in re.finditer(r"\bcase\b[^:;]*?\.\.\.", code):
            report(match.start(), "case A ... B: a GNU case range")
        for at in statement_expressions(code):
            report(at, "({ ... }): a GNU statement expression")
        # A declaration starts a statement: TYPE NAME[BOUND] followed by =, ;, { or ,.
        declaration = (r"(?:^|(?<=[;{}()]))\s*(?:(?:static|const|constexpr|thread_local|volatile|struct|unsigned|signed)\s+)*"
                       r"([A-Za-z_][\w:]*(?:<[^;<>]*>)?)\s*\**\s+\**\s*([A-Za-z_]\w*)\s*\[([^\]\[]+)\]"
                       r"\s*(?:\[[^\]]*\]\s*)*(?:=(?!=)|;|\{|,)")
        for match in re.finditer(declaration, code, re.MULTILINE):
            kind, name, bound = match.groups()
            if kind in KEYWORDS:
                continue
            variable = [n for n in bound_names(bound) if n not in known]
            if variable:
                report(match.start(2), "%s[%s]: an array whose bound (%s) is not a constant" %
                       (name, bound.strip(), ", ".join(variable)))
    return found


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = sys.argv[1]
    folders = sys.argv[2:] or PROGRAM
    found = findings(root, folders)
    for line in found:
        print(line)
    print("%d construct(s) that Visual Studio does not build, in %s" % (len(found), ", ".join(folders)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
