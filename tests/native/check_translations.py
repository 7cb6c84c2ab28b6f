"""The translations against English, from the sources alone: every string,
menu and dialog of each program and of the installer's DLL, and every
message of the monitor's message table, in each language the program has.

A translation fails on an id English has and it lacks (or the other way
round), a placeholder that differs from English's (count, order or type),
a text left in English, a notification-area text longer than the system
shows, or a LANGUAGE other than its language's.

    python3 check_translations.py <source folder>
"""

import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from rcscript import rc_text as rc_literal, translation_tag  # noqa: E402

SOURCE = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]).resolve()

# Each program's resource script, and the folder of its texts (lang/).
PROGRAMS = {
    "BrimWatch": SOURCE / "monitor" / "BrimWatch.rc",
    "BrimSet": SOURCE / "config" / "BrimSet.rc",
    "BrimSetCheck": SOURCE / "installer" / "BrimSetCheck.rc",
    "VelloranUpdater": SOURCE / "updater" / "VelloranUpdater.rc",
}

# The folders the resource compiler searches besides the including file's.
INCLUDE_FOLDERS = (SOURCE / "config", SOURCE / "config" / "lang")

# The LANGUAGE each translation declares, by the tag in its file name.
LANGUAGES = {
    "de": "LANG_GERMAN, SUBLANG_NEUTRAL",
    "fr": "LANG_FRENCH, SUBLANG_NEUTRAL",
    "es": "LANG_SPANISH, SUBLANG_NEUTRAL",
    "pt-BR": "LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN",
    "ja": "LANG_JAPANESE, SUBLANG_NEUTRAL",
    "zh-CN": "LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED",
}

# Names that stay as they are in every language.
NAMES = ("BrimSetCheck", "BrimSet", "BrimWatch", "Brimline", "Velloran", "Windows")

# Texts that may stand in a translation exactly as in English, and why.
SAME_AS_ENGLISH = {
    "OK": "the button's word in German, French, Portuguese and Japanese Windows",
    "MB": "the unit's symbol outside French",
    "Version": "the word in German and French",
    "(1 GB = 1024 MB)": "units and numbers as Spanish, Japanese and Chinese write them",
    "Copyright": "a placeholder that the About box replaces with the version block's copyright",
    "1.2.3": "a placeholder that the About box replaces with the version",
    "Dummy": "the tray menu's popup, whose own name is never shown",
}

# The conversions of the string tables' templates (common/TextFormat.h).
CONVERSION = re.compile(r"%%|%(?:I64|ll|l)?[csud]")
# The message table's insertion strings.
INSERTION = re.compile(r"%[1-9][0-9]?")

# What the notification area shows of an icon's texts, in characters
# (NOTIFYICONDATAW's fields less their terminator).
TIP_LIMIT, BALLOON_LIMIT, TITLE_LIMIT = 127, 255, 63
# Realistic values at their longest: a drive letter, a size as the shell
# writes it in any of the languages ("1 023 octets"), and minutes of five
# digits (a forecast runs up to twice the longest horizon of a week, 20160).
SAMPLE = {"c": "W", "s": "1" + "\u00a0" + "023 octets", "u": "99999"}


# -- reading resource scripts ------------------------------------------------

_TOKEN = re.compile(r'"(?:[^"]|"")*"|[A-Za-z_][A-Za-z0-9_]*|-?0x[0-9A-Fa-f]+|-?\d+|\S')
_CONTROLS = {"LTEXT", "RTEXT", "CTEXT", "PUSHBUTTON", "DEFPUSHBUTTON", "CONTROL", "EDITTEXT", "GROUPBOX",
             "CHECKBOX", "AUTOCHECKBOX", "RADIOBUTTON", "ICON", "LISTBOX", "COMBOBOX"}
_DIALOG_PARTS = {"STYLE", "EXSTYLE", "CAPTION", "FONT", "BEGIN"}


def rc_text(token):
    """A quoted resource-script string as the program gets it."""
    return rc_literal(token[1:-1])


class Script:
    """The texts of one language's resource scripts: string table, menus
    and dialogs by id, and the LANGUAGE they declare."""

    def __init__(self):
        self.strings = {}
        self.menus = {}    # id -> [(kind, text, command id)]
        self.dialogs = {}  # id -> {"caption": text, "controls": [(keyword, text, id)]}
        self.languages = []
        self.defines = {}

    def read(self, path, include=lambda name: True):
        lines = []
        for line in path.read_text(encoding="utf-8").splitlines():
            stripped = line.strip()
            if stripped.startswith("//"):
                continue
            if stripped.startswith("#"):
                match = re.match(r'#\s*include\s+"([^"]+)"', stripped)
                # The scripts beside it, or in the folders the resource
                # compiler is given (BrimSetCheck.dll takes BrimSet's verb
                # texts from config/); the version block of common/ has no
                # texts to compare.
                if match and match.group(1).endswith(".rc") and include(match.group(1)):
                    found = [folder / match.group(1) for folder in (path.parent,) + INCLUDE_FOLDERS
                             if (folder / match.group(1)).is_file()]
                    if found:
                        self.read(found[0], include)
                match = re.match(r'#\s*define\s+(\w+)\s+(".*")\s*$', stripped)
                if match:
                    self.defines[match.group(1)] = rc_text(match.group(2))
                continue
            lines.append(line)
        self._parse(_TOKEN.findall("\n".join(lines)))
        return self

    def _parse(self, tokens):
        i = 0
        while i < len(tokens):
            word = tokens[i]
            if word == "LANGUAGE":
                self.languages.append("%s, %s" % (tokens[i + 1], tokens[i + 3]))
                i += 4
            elif word == "STRINGTABLE":
                i = self._string_table(tokens, i + 1)
            elif i + 1 < len(tokens) and tokens[i + 1] == "MENU":
                self.menus[word], i = self._menu(tokens, i + 2)
            elif i + 1 < len(tokens) and tokens[i + 1] in ("DIALOG", "DIALOGEX"):
                self.dialogs[word], i = self._dialog(tokens, i + 2)
            elif word == "BEGIN":  # data of another kind of resource
                i = tokens.index("END", i) + 1
            else:
                i += 1

    def _string_table(self, tokens, i):
        i = tokens.index("BEGIN", i) + 1
        while tokens[i] != "END":
            name = tokens[i]
            i += 2 if tokens[i + 1] == "," else 1
            self.strings[name] = rc_text(tokens[i])
            i += 1
        return i + 1

    def _menu(self, tokens, i):
        items, depth = [], 0
        i = tokens.index("BEGIN", i)
        while True:
            word = tokens[i]
            if word == "BEGIN":
                depth += 1
            elif word == "END":
                depth -= 1
                items.append(("end", None, None))
                if depth == 0:
                    return items[:-1], i + 1
            elif word == "POPUP":
                items.append(("popup", rc_text(tokens[i + 1]), None))
            elif word == "MENUITEM" and tokens[i + 1] == "SEPARATOR":
                items.append(("separator", None, None))
            elif word == "MENUITEM":
                items.append(("item", rc_text(tokens[i + 1]), tokens[i + 3]))
            i += 1

    def _dialog(self, tokens, i):
        dialog = {"caption": None, "controls": []}
        while tokens[i] != "BEGIN":
            if tokens[i] == "CAPTION":
                dialog["caption"] = rc_text(tokens[i + 1])
            i += 1
        i += 1
        while tokens[i] != "END":
            if tokens[i] in _CONTROLS:
                keyword, j = tokens[i], i + 1
                text = rc_text(tokens[j]) if tokens[j].startswith('"') else None
                if keyword == "CONTROL" or text is not None:
                    j += 2  # the text (or an icon's id) and its comma
                dialog["controls"].append((keyword, text, tokens[j]))
            i += 1
        return dialog, i + 1


def english(script):
    return Script().read(script, include=lambda name: translation_tag(name) is None)


def translations(script):
    """{tag: Script} of every translation the program's script includes."""
    names = re.findall(r'^\s*#\s*include\s+"(lang/[^"]+)"', script.read_text(encoding="utf-8"), re.M)
    return {translation_tag(name): Script().read(script.parent / name) for name in names if translation_tag(name)}


def conversions(text):
    return CONVERSION.findall(text)


def fill(template):
    return CONVERSION.sub(lambda m: "%" if m.group() == "%%" else SAMPLE[m.group()[-1]], template)


def left_in_english(english_text, text):
    """A translated text that is the English one, with more in it than the
    names, placeholders, figures and signs that every language keeps."""
    if text is None or text != english_text or text in SAME_AS_ENGLISH:
        return False
    rest = CONVERSION.sub("", text)
    for name in NAMES:
        rest = rest.replace(name, "")
    return re.search(r"[^\W\d_]", rest) is not None


def read_messages(path):
    """The message table: its languages, and {message id: {language: text}}."""
    text = path.read_text(encoding="utf-8")
    languages = re.findall(r"(\w+)=0x[0-9A-Fa-f]+:\w+", re.search(r"LanguageNames=\((.*?)\)", text, re.S).group(1))
    messages = {}
    for block in re.split(r"^MessageId=", text, flags=re.M)[1:]:
        number = int(block.split("\n", 1)[0])
        messages[number] = dict(re.findall(r"^Language=(\w+)\n(.*?)\n\.$", block, re.M | re.S))
    return languages, messages


# -- the checks ----------------------------------------------------------------

class TranslationsTest(unittest.TestCase):

    def programs(self):
        for program, script in PROGRAMS.items():
            yield program, script, english(script), translations(script)

    def test_every_program_has_every_language_in_its_own_files(self):
        for program, script, _, found in self.programs():
            with self.subTest(program=program):
                self.assertEqual(sorted(found), sorted(LANGUAGES))
                on_disk = {translation_tag(p.name) for p in (script.parent / "lang").glob(program + ".*.rc")}
                self.assertEqual(on_disk - {None}, set(found), "a file in lang/ that the script does not include")
                for tag, texts in found.items():
                    self.assertEqual(set(texts.languages), {LANGUAGES[tag]}, tag)
                    description = "BRIM_FILE_DESCRIPTION_" + tag.upper().replace("-", "_")
                    self.assertIn(description, texts.defines, "the version block's description in " + tag)

    def test_the_same_ids_menus_and_controls_as_english(self):
        for program, _, base, found in self.programs():
            for tag, texts in found.items():
                with self.subTest(program=program, language=tag):
                    self.assertEqual(sorted(texts.strings), sorted(base.strings))
                    self.assertEqual({k: [(kind, command) for kind, _, command in v] for k, v in texts.menus.items()},
                                     {k: [(kind, command) for kind, _, command in v] for k, v in base.menus.items()})
                    self.assertEqual({k: [(c[0], c[2]) for c in v["controls"]] for k, v in texts.dialogs.items()},
                                     {k: [(c[0], c[2]) for c in v["controls"]] for k, v in base.dialogs.items()})

    def test_placeholders_are_englishs_in_count_order_and_type(self):
        for program, _, base, found in self.programs():
            for tag, texts in found.items():
                for name, text in texts.strings.items():
                    with self.subTest(program=program, language=tag, string=name):
                        self.assertEqual(conversions(text), conversions(base.strings.get(name, "")))
        languages, messages = read_messages(SOURCE / "monitor" / "BrimlineEvents.mc")
        for number, texts in messages.items():
            for language in languages:
                with self.subTest(message=number, language=language):
                    self.assertIn(language, texts)
                    self.assertEqual(INSERTION.findall(texts[language]), INSERTION.findall(texts["English"]))

    def test_no_text_is_left_in_english(self):
        def pairs(base, texts):
            for name, text in texts.strings.items():
                yield name, base.strings.get(name), text
            for menu, items in texts.menus.items():
                for (_, english_text, _), (_, text, command) in zip(base.menus.get(menu, []), items):
                    yield "%s/%s" % (menu, command), english_text, text
            for dialog, content in texts.dialogs.items():
                yield dialog, base.dialogs[dialog]["caption"], content["caption"]
                for (_, english_text, control), (_, text, _) in zip(base.dialogs[dialog]["controls"],
                                                                    content["controls"]):
                    yield "%s/%s" % (dialog, control), english_text, text

        for program, _, base, found in self.programs():
            for tag, texts in found.items():
                for where, english_text, text in pairs(base, texts):
                    with self.subTest(program=program, language=tag, text=where):
                        self.assertFalse(left_in_english(english_text, text), text)
        languages, messages = read_messages(SOURCE / "monitor" / "BrimlineEvents.mc")
        for number, texts in messages.items():
            for language in languages[1:]:
                with self.subTest(message=number, language=language):
                    self.assertFalse(left_in_english(texts["English"], texts.get(language)))

    def test_notification_texts_fit_what_the_notification_area_shows(self):
        monitor = PROGRAMS["BrimWatch"]
        for tag, texts in dict(translations(monitor), en=english(monitor)).items():
            s = {name: fill(text) for name, text in texts.strings.items()}
            for kind, limit, text in (
                    ("tip", TIP_LIMIT, s["IDS_LOW_SPACE_TIP"] + "\n" + s["IDS_LOW_TIP_FULL_IN"]),
                    ("tip", TIP_LIMIT, s["IDS_FORECAST_TIP"]),
                    ("balloon", BALLOON_LIMIT, s["IDS_LOW_SPACE_BALLOON"] + "\r\n" + s["IDS_LOW_FULL_IN"]),
                    ("balloon", BALLOON_LIMIT, s["IDS_FORECAST_BALLOON"]),
                    ("title", TITLE_LIMIT, s["IDS_BALLOON_TITLE"]),
                    ("title", TITLE_LIMIT, s["IDS_FORECAST_TITLE"])):
                with self.subTest(language=tag, kind=kind, text=text):
                    self.assertLessEqual(len(text), limit)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)
