"""Reading the programs' resource scripts, as the tests on both sides need
it: the native translation check (tests/native) and the end-to-end cases
(tests/e2e) take the texts of the scripts from here."""

import re


def rc_text(literal):
    """A resource-script string, without its quotes, as the program gets it:
    C escapes, and "" for a quote."""
    out, i = [], 0
    while i < len(literal):
        c = literal[i]
        if c == "\\" and i + 1 < len(literal):
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}.get(literal[i + 1], literal[i + 1]))
            i += 2
        elif c == '"' and literal[i + 1:i + 2] == '"':
            out.append('"')
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def translation_tag(script_name):
    """The language of a translation's file name (lang/BrimSet.de.rc: "de"),
    or None for English's."""
    match = re.search(r"\.([a-z]{2}(?:-[A-Z]{2})?)\.rc$", script_name)
    return match.group(1) if match and match.group(1) != "en" else None
