"""Every user in their own language: each program takes its texts from the
resources of the user's language, as Wine sets it from LC_ALL, and English
in a language it does not have; and every text of every dialog fits its
control in every language.

The expected texts are read from the translations themselves
(lang/<program>.<language>.rc, beside each program's resource script).
"""

import re
import unittest

from brimharness import MiB, WineEnv, program, require_programs, wait_for
from brimcases import (BRIMSET, BRIMSET_EXE, BRIMWATCH, IDC_ABOUT, IDC_DRIVELIST, IDC_FILEDESCRIPTION, IDC_MESSAGE,
                       IDM_TRAY_EXIT, INSTALL_DIR, PACKED_VERSION, UPDATE_POLICY_KEY, UPDATER, WM_COMMAND,
                       ConfigTestCase, MonitorTestCase, ProgramResources)

# Each language the programs speak: the locale that gives Wine that user
# interface language, and the language's id.
# German, French, Spanish and Japanese serve every country of the language
# (no sublanguage); Portuguese and Chinese only Brazil's and the simplified.
LANGUAGES = {"de": ("de_DE.UTF-8", 0x0007), "fr": ("fr_FR.UTF-8", 0x000C), "es": ("es_ES.UTF-8", 0x000A),
             "pt-BR": ("pt_BR.UTF-8", 0x0416), "ja": ("ja_JP.UTF-8", 0x0011), "zh-CN": ("zh_CN.UTF-8", 0x0804)}
# The English layouts stay exactly as they always were. Under Wine's
# stand-in for MS Shell Dlg the About box's "Version" label needs a pixel
# more than its 24 dialog units; Windows' own font fits it.
SEED_OVERFLOWS = {("1", "Version")}

# English as written (United Kingdom) and as English (United States), the
# other languages' fallback.
ENGLISH = [("en", "en_US.UTF-8", 0x0809), ("en", "en_US.UTF-8", 0x0409)]
# A language that none of the programs has: Finnish.
UNKNOWN = "fi_FI.UTF-8"
IDOK, IDCANCEL = 1, 2


def texts(resources, tag):
    """A program's texts in a language (its English for None)."""
    if tag is None:
        return resources
    return ProgramResources(resources.script.parent / "lang" / ("%s.%s.rc" % (resources.script.stem, tag)),
                            ids=resources.ids)


def source_of(resources, tag):
    """The script that holds a program's texts in a language (None: English)."""
    return resources.script.parent / "lang" / ("%s.%s.rc" % (resources.script.stem, tag or "en"))


def block(resources, tag, name):
    """The text of one resource (a menu, a dialog) in a language's script."""
    text = source_of(resources, tag).read_text(encoding="utf-8")
    return re.search(r"^%s (?:MENU|DIALOGEX)\b.*?^END$" % name, text, re.M | re.S).group(0)


def quoted_texts(resource_block, keywords):
    """The quoted texts of a resource's items that start with one of the
    keywords, in order ("" quotes are not used in these)."""
    return re.findall(r'^\s*(?:%s)\s+"([^"]+)"' % "|".join(keywords), resource_block, re.M)


def file_description(resources, tag):
    """The version block's description of a program's file in a language."""
    script = source_of(resources, tag) if tag else resources.script
    return re.search(r'^#define BRIM_FILE_DESCRIPTION\w* "([^"]+)"', script.read_text(encoding="utf-8"), re.M).group(1)


def pattern(template, **fixed):
    """A string-table template as a regular expression: the conversions
    named in `fixed` ("c", "s", "u") take those values, the others any text."""
    def part(piece):
        if piece == "%%":
            return "%"
        if re.fullmatch(r"%[csu]", piece):
            return re.escape(fixed[piece[1]]) if piece[1] in fixed else ".+"
        return re.escape(piece)
    return re.compile("".join(part(p) for p in re.split(r"(%%|%[csu])", template)), re.S)


class LayoutTest(unittest.TestCase):
    """BrimDriver's fit command over BrimSet's and the updater's dialogs."""

    def test_every_dialog_text_fits_its_control_in_every_language(self):
        require_programs(self, "BrimSet.exe", "VelloranUpdater.exe", "BrimDriver.exe")
        env = WineEnv.for_test(self)
        # The updater fills its message and its second button at run time:
        # those texts are measured there too, a version at its longest
        # standing for each conversion.
        messages = ",".join(str(UPDATER.id(n)) for n in UPDATER.ids if n.startswith("IDS_") and
                            n not in ("IDS_APP_TITLE", "IDS_BUTTON_CANCEL", "IDS_BUTTON_LATER", "IDS_BUTTON_CLOSE"))
        buttons = ",".join(str(UPDATER.id(n)) for n in ("IDS_BUTTON_CANCEL", "IDS_BUTTON_LATER", "IDS_BUTTON_CLOSE"))
        runtime = {BRIMSET: [], UPDATER: ["%d/%d=%s" % (UPDATER.id("IDD_UPDATE"), IDC_MESSAGE, messages),
                                          "%d/%d=%s" % (UPDATER.id("IDD_UPDATE"), IDCANCEL, buttons),
                                          "fill=65535.65535.65535.65535"]}
        languages = ENGLISH + [(tag, locale, language) for tag, (locale, language) in LANGUAGES.items()]
        for resources, extra in runtime.items():
            self.assertEqual({p.name.split(".", 1)[1][:-3] for p in source_of(resources, None).parent.glob(
                resources.script.stem + ".*.rc")} - {"en"}, set(LANGUAGES), "a language this test does not know")
            name = resources.script.stem + ".exe"
            env.install_program(name, INSTALL_DIR)
            for tag, locale, language in languages:
                with self.subTest(program=name, language=tag, id=hex(language)):
                    result = env.wine(program("BrimDriver.exe"), "fit", INSTALL_DIR + "\\" + name, hex(language),
                                      *extra, env={"LC_ALL": locale}, timeout=120)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    lines = [line.split("\t") for line in result.stdout.splitlines()]
                    self.assertEqual([line for line in lines if line[0] == "over" and
                                      not (tag == "en" and (line[2], line[-1]) in SEED_OVERFLOWS)], [])
                    self.assertEqual(sorted(int(line[2]) for line in lines if line[0] == "checked"),
                                     sorted(resources.captions))


class MonitorLanguageTest(MonitorTestCase):

    def test_balloon_tip_and_tray_menu_in_the_users_language_else_english(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 8 * MiB)})
        env.fill_drive("d", 512 * 1024)
        exe = self.install_monitor()
        for tag, locale in (("de", LANGUAGES["de"][0]), ("ja", LANGUAGES["ja"][0]), (None, UNKNOWN)):
            with self.subTest(language=tag or "English"):
                words = texts(BRIMWATCH, tag)
                since = env.tray_mark()
                monitor = self.start_monitor(exe, lc_all=locale, log="monitor-%s.log" % locale)
                window = self.wait_for_monitor(words.string("IDS_APP_TITLE"))
                self.pulse_until("add", 3, since)
                balloon = pattern(words.string("IDS_LOW_SPACE_BALLOON"), c="D")
                shown = wait_for(lambda: [b for b in self.balloons(since) if balloon.fullmatch(b["text"])], 60)
                self.assertTrue(shown, "no balloon in %s: %r" % (locale, self.balloons(since)))
                self.assertEqual(shown[0]["title"], words.string("IDS_BALLOON_TITLE"))
                tip = pattern(words.string("IDS_LOW_SPACE_TIP"), c="D")
                self.assertTrue([t for t in self.tray_tips() if tip.fullmatch(t)], self.tray_tips())
                # The popup the icon's menu loads, as the loader picks it for
                # that language: the texts of the program's own menu.
                menu = env.wine(program("BrimDriver.exe"), "resources", self.monitor_path,
                                "menu:%d" % BRIMWATCH.id("IDR_TRAYMENU"), env={"LC_ALL": locale})
                items = [f[4] for f in (line.split("\t") for line in menu.stdout.splitlines()) if f[3].isdigit()]
                self.assertEqual(items, quoted_texts(block(BRIMWATCH, tag, "IDR_TRAYMENU"), ["MENUITEM"]))
                self.post(window, WM_COMMAND, IDM_TRAY_EXIT, 0)
                self.assertEqual(self.wait_exit_code(monitor), 0)

    def install_monitor(self, *args, **kwargs):
        self.monitor_path = super().install_monitor(*args, **kwargs)
        return self.monitor_path

    def wait_for_monitor(self, title):
        """The hidden window of the running monitor, titled in its language."""
        windows = wait_for(self.monitor_windows, 60, 0.25)
        self.assertTrue(windows, "no monitor window appeared")
        self.assertEqual(windows[0]["title"], title)
        return windows[0]["hwnd"]


class ConfigLanguageTest(ConfigTestCase):

    def test_drive_list_about_box_and_verbs_in_the_users_language_else_english(self):
        env = self.make_env(drives={"d": 16 * MiB})
        env.set_drive_settings({"d": (1, 32 * MiB)})
        for tag, locale in (("fr", LANGUAGES["fr"][0]), ("zh-CN", LANGUAGES["zh-CN"][0]), (None, UNKNOWN)):
            with self.subTest(language=tag or "English"):
                words = texts(BRIMSET, tag)
                self.open_drive_list(lc_all=locale)
                dialog = block(BRIMSET, tag, "IDD_DRIVELIST")
                self.assertEqual(sorted(c["text"] for c in env.controls(self.dialog) if c["text"]),
                                 sorted(quoted_texts(dialog, ["LTEXT", "CONTROL", "DEFPUSHBUTTON", "PUSHBUTTON"])))
                columns = env.driver_ok("lvcolumns", "0x%x" % self.dialog, str(IDC_DRIVELIST)).splitlines()
                self.assertEqual([c.split("\t")[3] for c in columns],
                                 [words.string(n) for n in ("IDS_COLUMN_DRIVE", "IDS_COLUMN_CAPACITY",
                                                            "IDS_COLUMN_FREE_SPACE", "IDS_COLUMN_ALARM_AT",
                                                            "IDS_COLUMN_RECOMMENDATION")])
                # D: is watched with a threshold above its capacity.
                self.assertEqual(self.cells("d")[4], words.string("IDS_RECOMMEND_REDUCE_SETTING"))
                # The About box describes the program from the version block's strings of that language.
                self.command(self.dialog, IDC_ABOUT)
                about = env.find_window("#32770", words.caption("IDD_ABOUTBOX"), timeout=30)
                self.assertIsNotNone(about, "no About box titled %r" % words.caption("IDD_ABOUTBOX"))
                self.assertEqual(env.get_text(about, IDC_FILEDESCRIPTION), file_description(BRIMSET, tag))
                self.click(about, IDOK)
                self.command(self.dialog, IDCANCEL)
                self.assertEqual(self.wait_exit(), 0)

                result = env.wine(BRIMSET_EXE, "/oswarning", "maybe", env={"LC_ALL": locale})
                self.assertEqual((result.returncode, result.stderr.splitlines()),
                                 (87, [words.string("IDS_VERB_BAD_OSWARNING").replace("%s", "maybe")]))

    def test_updater_in_the_users_language_else_english(self):
        env = self.make_env(display=True)
        env.install_program("VelloranUpdater.exe", INSTALL_DIR)
        env.reg_add(UPDATE_POLICY_KEY, "UpdateCheck", "REG_DWORD", 0, view=64)
        for tag, locale in (("es", LANGUAGES["es"][0]), ("ja", LANGUAGES["ja"][0]), (None, UNKNOWN)):
            with self.subTest(language=tag or "English"):
                words = texts(UPDATER, tag)
                proc = env.start(INSTALL_DIR + r"\VelloranUpdater.exe", "BrimSet.exe", "0", str(PACKED_VERSION), "0",
                                 env={"LC_ALL": locale})
                window = env.find_window("#32770", words.caption("IDD_UPDATE"), timeout=30)
                self.assertIsNotNone(window, "no updater window titled %r" % words.caption("IDD_UPDATE"))
                self.assertEqual(env.get_text(window, IDC_MESSAGE), words.string("IDS_MANAGED"))
                self.assertEqual(env.get_text(window, IDCANCEL), words.string("IDS_BUTTON_CLOSE"))
                env.driver_ok("click", "0x%x" % window, str(IDCANCEL))
                self.assertEqual(env.wait_exit(proc, 30), 0)


if __name__ == "__main__":
    unittest.main()
