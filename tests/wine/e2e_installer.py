"""The setup program, silent: a first install over a running unzipped copy closes it and puts the
program, its shortcut and its uninstall entry in place and moves the Run value to the installed exe; a
second install over the running installed program ends it and replaces the exe; the uninstaller ends
it again and removes program, shortcut, entry and Run value. The settings outlive all three."""

import os
import re
import shutil

from wine_desktop import Desktop, check, main, wait_for

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvelon"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
APPROVED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"


def version(build):
    with open(os.path.join(build, "version", "tarvelon_version.h")) as header:
        return re.search(r'#define TARVELON_VERSION "([^"]+)"', header.read()).group(1)


def values(desktop, key):
    """{name: text} of a key's values; None when the key is missing."""
    found = desktop.reg_query(key)
    return None if found is None else {name: text for name, (_, text) in found.items()}


def folder_of(desktop, variable):
    return desktop.wine("cmd", "/c", "echo", "%" + variable + "%").stdout.strip()


def unix_path(desktop, windows_path):
    return desktop.run("winepath", "-u", windows_path).stdout.strip()


def forget_installation(desktop, folder, shortcut):
    desktop.wine("reg", "delete", UNINSTALL_KEY, "/f", check_status=False)
    for key in (RUN_KEY, APPROVED_KEY):
        desktop.wine("reg", "delete", key, "/v", "Tarvelon", "/f", check_status=False)
    shutil.rmtree(folder, ignore_errors=True)
    if os.path.exists(shortcut):
        os.remove(shortcut)


def test(build):
    desktop = Desktop(build)
    # A shortcut made in the Start menu would otherwise also land in the host's own application menu.
    desktop.env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
    setup = os.path.join(build, "packaging", "tarvelon-%s-setup.exe" % version(build))
    check(os.path.exists(setup), "no %s: configure with makensis installed (scripts/install-deps)" % setup)
    installed = folder_of(desktop, "LOCALAPPDATA") + r"\Programs\Tarvelon"
    installed_exe = installed + r"\tarvelon.exe"
    folder = unix_path(desktop, installed)
    start_menu = folder_of(desktop, "APPDATA") + r"\Microsoft\Windows\Start Menu\Programs"
    shortcut = unix_path(desktop, start_menu + r"\Tarvelon.lnk")
    desktop.stop()
    desktop.reg_delete()
    forget_installation(desktop, folder, shortcut)
    desktop.reg_add("fontsize", 20)
    desktop.wine("reg", "add", RUN_KEY, "/v", "Tarvelon", "/t", "REG_SZ", "/d", r'"C:\Unzipped\tarvelon.exe"',
                 "/f")
    try:
        unzipped = desktop.start()
        desktop.wine(setup, "/S", timeout=180)
        wait_for(lambda: unzipped.poll() is not None, 60, "the setup to end the running copy")
        for name in ("tarvelon.exe", "README.txt", "LICENSE", "uninstall.exe"):
            check(os.path.isfile(os.path.join(folder, name)), "the install lacks " + name)
        check(os.path.isfile(shortcut), "no Start-menu shortcut")
        entry = values(desktop, UNINSTALL_KEY) or {}
        expected = {"DisplayName": "Tarvelon", "DisplayVersion": version(build), "InstallLocation": installed,
                    "UninstallString": '"%s\\uninstall.exe"' % installed,
                    "QuietUninstallString": '"%s\\uninstall.exe" /S' % installed,
                    "NoModify": "0x1", "NoRepair": "0x1"}
        check({name: entry.get(name) for name in expected} == expected, "uninstall entry %r" % entry)
        check(int(entry.get("EstimatedSize", "0"), 16) > 100, "estimated size %r" % entry.get("EstimatedSize"))
        check(values(desktop, RUN_KEY).get("Tarvelon") == '"%s"' % installed_exe, "the Run value was not moved")

        # An upgrade: the running installed program, its exe marked so that a replacement shows.
        exe = os.path.join(folder, "tarvelon.exe")
        packed_size = os.path.getsize(exe)
        with open(exe, "ab") as marked:
            marked.write(b"running copy")
        desktop.exe = installed_exe
        running = desktop.start()
        desktop.wine(setup, "/S", timeout=180)
        wait_for(lambda: running.poll() is not None, 60, "the upgrade to end the running program")
        check(os.path.getsize(exe) == packed_size, "the upgrade left the old exe")

        desktop.wine("reg", "add", APPROVED_KEY, "/v", "Tarvelon", "/t", "REG_BINARY", "/d",
                     "020000000000000000000000", "/f")
        running = desktop.start()
        desktop.wine(installed + r"\uninstall.exe", "/S", timeout=180)
        # The uninstaller runs on from a copy of itself and returns at once.
        wait_for(lambda: not os.path.exists(folder), 120, "the uninstaller to remove the folder")
        wait_for(lambda: running.poll() is not None, 60, "the uninstaller to end the program")
        check(not os.path.exists(shortcut), "the shortcut is left")
        check(values(desktop, UNINSTALL_KEY) is None, "the uninstall entry is left")
        check("Tarvelon" not in (values(desktop, RUN_KEY) or {}), "the Run value is left")
        check("Tarvelon" not in (values(desktop, APPROVED_KEY) or {}), "the StartupApproved mark is left")
        check((desktop.reg_query() or {}).get("fontsize") == ("REG_DWORD", "0x14"), "the settings were not kept")
    finally:
        desktop.stop()
        forget_installation(desktop, folder, shortcut)
        desktop.reg_delete()


main(test)
