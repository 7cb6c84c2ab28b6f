#!/usr/bin/env python3
"""Checks the administrative templates in docs/policy against the programs.

Usage: check_policy_templates.py [SOURCE_DIR]

The policy key and the names of the values read from it are taken from the
C++ sources, never restated here: the key is the wide string literal that
starts with Software\\Policies\\Velloran\\; the files that read it are those
that name the key (its literal or a constant defined by it) or include a
header that does; the values are the *_VALUE constants of those files and the
names passed straight to a ReadPolicy... function. The monitor's
ForecastMinutes must be defined under monitor/ or common/ wherever it lives.

Checked: every template is well-formed XML; every policy is a machine policy
whose key is the programs' key and whose values are values the programs read,
each with the registry type it is decoded as; every value read has a policy;
every string and presentation the ADMX names exists in every ADML, the ADMLs
all have the same ids, and each presentation's controls belong to the
elements of the policy that shows it. Prints each problem and exits 1 when
there is one.
"""

import re
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

NS = "{http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions}"
TEMPLATE = "Brimline"
PROGRAM_FOLDERS = ("common", "monitor", "updater", "config")
KEY_PREFIX = "software\\policies\\velloran\\"

# The registry type each value is decoded as, which a pattern cannot follow
# through the code: UpdateCheck (DecodeUpdatePolicy, updater/UpdaterLogic)
# and ForecastMinutes (the monitor's read) count only as a 4-byte REG_DWORD,
# UpdateFeedUrl only as REG_SZ.
VALUE_TYPES = {"UpdateCheck": "REG_DWORD", "UpdateFeedUrl": "REG_SZ", "ForecastMinutes": "REG_DWORD"}

# Values a program must read, and the folders that hold its reader.
REQUIRED_VALUES = {"ForecastMinutes": ("monitor", "common")}

WIDE_LITERAL = r'L"((?:[^"\\]|\\.)*)"'
CONSTANT = re.compile(r'(?:\b(?:const|constexpr)\s+wchar_t\s+(\w+)\s*\[\s*\]\s*=|#\s*define\s+(\w+))\s*' + WIDE_LITERAL)
POLICY_READ_CALL = re.compile(r'\bReadPolicy\w*\s*\(\s*' + WIDE_LITERAL)
INCLUDE = re.compile(r'#\s*include\s*"([^"]+)"')


def strip_comments(text):
    """The C++ text without its comments, string and character literals kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            out.append(" ")
        else:
            out.append(c)
            i += 1
    return "".join(out)


def unescape(literal):
    return re.sub(r"\\(.)", r"\1", literal)


def read_sources(source):
    files = {}
    for folder in PROGRAM_FOLDERS:
        for path in sorted((source / folder).rglob("*")):
            if path.suffix in (".cpp", ".h"):
                files[path.relative_to(source).as_posix()] = strip_comments(path.read_text(encoding="utf-8"))
    return files


def program_policy(source, problems):
    """(key, {value name: [files]}) as the programs read them."""
    files = read_sources(source)
    keys, key_names = set(), set()
    for text in files.values():
        for literal in re.findall(WIDE_LITERAL, text):
            if unescape(literal).lower().startswith(KEY_PREFIX):
                keys.add(unescape(literal))
        for match in CONSTANT.finditer(text):
            if unescape(match.group(3)).lower().startswith(KEY_PREFIX):
                key_names.add(match.group(1) or match.group(2))
    if not keys:
        problems.append("no source under %s defines the policy key (a literal starting with %s)"
                        % ("/, ".join(PROGRAM_FOLDERS) + "/", "Software\\Policies\\Velloran\\"))
        return None, {}
    if len({k.lower() for k in keys}) > 1:
        problems.append("the sources name more than one policy key: %s" % ", ".join(sorted(keys)))

    def names_key(text):
        return any(k in text for k in ('L"%s"' % k.replace("\\", "\\\\") for k in keys)) or any(
            re.search(r"\b%s\b" % re.escape(name), text) for name in key_names)

    # Headers that name the key, or include one that does, make their
    # includers readers too.
    key_headers = {Path(f).name for f, text in files.items() if f.endswith(".h") and names_key(text)}
    while True:
        more = {Path(f).name for f, text in files.items()
                if f.endswith(".h") and set(INCLUDE.findall(text)) & key_headers} - key_headers
        if not more:
            break
        key_headers |= more
    readers = [f for f, text in files.items() if names_key(text) or set(INCLUDE.findall(text)) & key_headers]

    values = {}
    for f in readers:
        for match in CONSTANT.finditer(files[f]):
            name, value = match.group(1) or match.group(2), unescape(match.group(3))
            if re.fullmatch(r"\w+_VALUE(_NAME)?", name) and "\\" not in value:
                values.setdefault(value, []).append(f)
        for literal in POLICY_READ_CALL.findall(files[f]):
            values.setdefault(unescape(literal), []).append(f)
    for value, folders in REQUIRED_VALUES.items():
        found = [f for f, text in files.items() if f.split("/")[0] in folders and 'L"%s"' % value in text]
        if not found:
            problems.append('%s is defined nowhere under %s: no L"%s" in their sources, so the program that '
                            "should read it does not" % (value, " or ".join(f + "/" for f in folders), value))
        for f in found:
            values.setdefault(value, []).append(f)
    return sorted(keys)[0], {value: sorted(set(readers)) for value, readers in values.items()}


def parse(path, problems):
    try:
        return ET.parse(path).getroot()
    except (ET.ParseError, OSError) as error:
        problems.append("%s: not well-formed XML: %s" % (path, error))
        return None


def value_type(node):
    """The registry type of an enabledValue/disabledValue/item value child."""
    return {"decimal": "REG_DWORD", "longDecimal": "REG_QWORD", "string": "REG_SZ"}.get(node.tag[len(NS):])


def written_values(policy):
    """(key, valueName, type, where) for every value the policy writes."""
    key = policy.get("key")
    out = []
    if policy.get("valueName"):
        types = {value_type(child) for tag in ("enabledValue", "disabledValue")
                 for holder in policy.findall(NS + tag) for child in holder if value_type(child)}
        for t in types or {"REG_DWORD"}:
            out.append((key, policy.get("valueName"), t, "the policy's own value"))
    for tag in ("enabledList", "disabledList"):
        for item in policy.findall("%s%s/%sitem" % (NS, tag, NS)):
            for child in item.findall(NS + "value/*"):
                out.append((item.get("key") or policy.get("defaultKey") or key, item.get("valueName"),
                            value_type(child), tag))
    for element in policy.findall(NS + "elements/*"):
        kind = element.tag[len(NS):]
        as_text = element.get("storeAsText") == "true"
        t = {"decimal": "REG_SZ" if as_text else "REG_DWORD",
             "longDecimal": "REG_SZ" if as_text else "REG_QWORD",
             "text": "REG_EXPAND_SZ" if element.get("expandable") == "true" else "REG_SZ",
             "multiText": "REG_MULTI_SZ"}.get(kind, "a %s element" % kind)
        out.append((element.get("key") or key, element.get("valueName"), t, "element %s" % element.get("id")))
    return out


def check(source):
    problems = []
    key, values = program_policy(source, problems)
    folder = source / "docs" / "policy"
    admx = parse(folder / (TEMPLATE + ".admx"), problems)
    adml_paths = sorted(folder.glob("*/%s.adml" % TEMPLATE))
    if not any(p.parent.name == "en-US" for p in adml_paths):
        problems.append("%s: no en-US/%s.adml" % (folder, TEMPLATE))
    admls = {p.parent.name: parse(p, problems) for p in adml_paths}
    if admx is None or key is None:
        return problems

    # The policies against the programs' key and values.
    written = set()
    for policy in admx.iter(NS + "policy"):
        name = policy.get("name")
        if policy.get("class") != "Machine":
            problems.append("policy %s: class %s, not Machine" % (name, policy.get("class")))
        for value_key, value_name, t, where in written_values(policy):
            if (value_key or "").lower() != key.lower():
                problems.append("policy %s (%s): key %s, but the programs read %s" % (name, where, value_key, key))
            elif value_name not in values:
                problems.append("policy %s (%s): value %s, which no program reads from %s (they read: %s)"
                                % (name, where, value_name, key, ", ".join(sorted(values))))
            elif t != VALUE_TYPES.get(value_name):
                problems.append("policy %s (%s): %s written as %s, but the programs take only %s"
                                % (name, where, value_name, t, VALUE_TYPES.get(value_name)))
            else:
                written.add(value_name)
    for value, readers in sorted(values.items()):
        if value not in VALUE_TYPES:
            problems.append("%s (read in %s) has no registry type in VALUE_TYPES of %s"
                            % (value, ", ".join(readers), Path(__file__).name))
        if value not in written:
            problems.append("%s is read from %s (%s) but no policy of %s.admx sets it"
                            % (value, key, ", ".join(readers), TEMPLATE))

    # Categories and supported-on references.
    categories = {c.get("name") for c in admx.iter(NS + "category")}
    definitions = {d.get("name") for d in admx.iter(NS + "definition")}
    for ref in admx.iter(NS + "parentCategory"):
        if ref.get("ref") not in categories:
            problems.append("parentCategory %s is no category of %s.admx" % (ref.get("ref"), TEMPLATE))
    for ref in admx.iter(NS + "supportedOn"):
        if ref.get("ref") is not None and ref.get("ref") not in definitions:
            problems.append("supportedOn %s is no definition of %s.admx" % (ref.get("ref"), TEMPLATE))

    # Every string and presentation named, in every language, with the
    # same ids everywhere.
    named = {"string": set(), "presentation": set()}
    for node in admx.iter():
        for attribute in node.attrib.values():
            for kind, ident in re.findall(r"\$\((string|presentation)\.([^)]*)\)", attribute):
                named[kind].add(ident)
    elements = {p.get("name"): {e.get("id"): e for e in p.findall(NS + "elements/*")}
                for p in admx.iter(NS + "policy")}
    shown_by = {re.sub(r"^\$\(presentation\.(.*)\)$", r"\1", p.get("presentation")): p.get("name")
                for p in admx.iter(NS + "policy") if p.get("presentation")}
    reference = None
    for language, adml in sorted(admls.items(), key=lambda item: item[0] != "en-US"):
        if adml is None:
            continue
        strings = {s.get("id"): (s.text or "") for s in adml.iter(NS + "string")}
        presentations = {p.get("id"): p for p in adml.iter(NS + "presentation")}
        for ident in sorted(named["string"] - set(strings)):
            problems.append("%s: no string %s" % (language, ident))
        for ident in sorted(named["presentation"] - set(presentations)):
            problems.append("%s: no presentation %s" % (language, ident))
        for ident, text in strings.items():
            if not text.strip():
                problems.append("%s: string %s is empty" % (language, ident))
        ids = (set(strings), set(presentations))
        if reference is None:
            reference = (language, ids)
        elif ids != reference[1]:
            problems.append("%s: ids differ from %s: strings %s, presentations %s" % (
                language, reference[0], sorted(ids[0] ^ reference[1][0]), sorted(ids[1] ^ reference[1][1])))
        for ident, presentation in presentations.items():
            policy_elements = elements.get(shown_by.get(ident), {})
            controls = {c.get("refId"): c for c in presentation if c.get("refId") is not None}
            if set(controls) != set(policy_elements):
                problems.append("%s: presentation %s shows %s, but its policy's elements are %s"
                                % (language, ident, sorted(controls), sorted(policy_elements)))
            for ref, control in controls.items():
                element = policy_elements.get(ref)
                if control.get("defaultValue") is not None and element is not None and element.get("maxValue"):
                    if not int(element.get("minValue", "0")) <= int(control.get("defaultValue")) <= int(
                            element.get("maxValue")):
                        problems.append("%s: %s's default %s is outside its range" % (language, ref,
                                                                                         control.get("defaultValue")))
    return problems


def main():
    source = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2])
    problems = check(source)
    for problem in problems:
        print(problem)
    if not problems:
        print("policy templates match the programs' key and values")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
