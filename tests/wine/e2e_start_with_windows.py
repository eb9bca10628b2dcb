""""Start with Windows" in General Setup, clicked in the real program: the box shows whether the Run
value names this exe (a value left by a moved copy does not count), also after the value was changed
outside the program, a click writes the exe's quoted path or deletes the value, and the cleanup button
deletes it too. The box is filled from the Run value when the dialog is shown, so each reading shows
the dialog first, as "Setup" in the panel's menu does."""

from wine_desktop import Desktop, check, main, wait_for

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
IDM_SETUP = "32774"


def run_value(desktop):
    result = desktop.wine("reg", "query", RUN_KEY, "/v", "Tarvelon", check_status=False)
    for line in result.stdout.replace("\r", "").splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == "Tarvelon":
            return parts[1], parts[2]
    return None


def box(desktop):
    """"1" or "0" as General Setup shows it, once shown from the menu; None while it is still being made."""
    if desktop.run("wine", desktop.driver, "command", IDM_SETUP, check_status=False).returncode != 0:
        return None
    result = desktop.run("wine", desktop.driver, "checked", "General Setup", "1007", check_status=False)
    return result.stdout.strip() if result.returncode == 0 else None


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    desktop.wine("reg", "add", RUN_KEY, "/v", "Tarvelon", "/t", "REG_SZ", "/d", r'"C:\Old Place\tarvelon.exe"',
                 "/f")
    this_exe = '"Z:%s"' % desktop.exe.replace("/", "\\")
    try:
        desktop.start()
        check(wait_for(lambda: box(desktop), 20, "General Setup") == "0", "a moved exe's value leaves the box off")
        check(desktop.drive("visible", "General Setup") == "1", "General Setup shown")

        # Written by hand (or by another copy) while the program runs: the next showing says so.
        desktop.wine("reg", "add", RUN_KEY, "/v", "Tarvelon", "/t", "REG_SZ", "/d", this_exe, "/f")
        check(box(desktop) == "1", "the box follows a value written outside the program")
        desktop.wine("reg", "delete", RUN_KEY, "/v", "Tarvelon", "/f")
        check(box(desktop) == "0", "the box follows a value deleted outside the program")

        desktop.drive("click", "General Setup", "1007")
        wait_for(lambda: run_value(desktop) == ("REG_SZ", this_exe), 15, "the Run value naming this exe")
        check(box(desktop) == "1", "the box is checked")

        desktop.drive("click", "General Setup", "1007")
        wait_for(lambda: run_value(desktop) is None, 15, "the Run value to be deleted")
        check(box(desktop) == "0", "the box is off again")

        desktop.drive("click", "General Setup", "1007")
        wait_for(lambda: run_value(desktop) is not None, 15, "the Run value again")
        desktop.drive("click", "General Setup", "1006")
        wait_for(lambda: desktop.program.poll() is not None, 20, "the cleanup to end the program")
        check(run_value(desktop) is None, "the cleanup deletes the Run value")
    finally:
        desktop.stop()
        desktop.wine("reg", "delete", RUN_KEY, "/v", "Tarvelon", "/f", check_status=False)


main(test)
