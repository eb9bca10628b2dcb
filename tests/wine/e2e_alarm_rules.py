"""Alarm rules in the real program. A simulated GPU's temperature steps through 50, a 4 s spike to 90,
50, 12 s at 90, 4 s at 75 and 4 s at 60; a rule above 80, clear at 70, hold 6 s runs a command that
appends its placeholders and two of its environment variables to a file: one raise (not for the spike),
one clear (only past 70). The GPU's name is hostile (x" & echo pwned>C:\pwned.txt & "): the command line
gets its safe form and runs nothing else, the environment the name as it is. A rule on
a watched server (the program watching its own query server) raises for that server. Then the Alarms
dialog, from the menu, adds a rule by keyboard alone, refusing a level that is no number, and
switches it off with its box."""

import os
import time

from wine_desktop import Desktop, check, free_udp_port, main, wait_for

HOSTILE_NAME = r'x" & echo pwned>C:\pwned.txt & "'
CONFIGURATION = """physical 1
gpu 0 name %s
gpu 0 bus 1
gpu 0 steps coreTemp 4 50 90 50 90 90 90 75 60
""" % HOSTILE_NAME
RULES = r"HKCU\Software\Tarvelon\Alarms"


def add_rule(desktop, index, values):
    for name, value in values.items():
        kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
        desktop.wine("reg", "add", "%s\\%d" % (RULES, index), "/v", name, "/t", kind, "/d", str(value), "/f")


def lines_of(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace") as text:
        return [line.strip() for line in text if line.strip()]


def keys(desktop, *names):
    for name in names:
        desktop.xdotool("key", name)
        time.sleep(0.15)


def test(build):
    desktop = Desktop(build)
    desktop.stop()
    desktop.reg_delete()
    drive_c = os.path.join(desktop.env["WINEPREFIX"], "drive_c")
    outputs = {name: os.path.join(drive_c, name) for name in ("gpu-alarms.txt", "server-alarms.txt", "pwned.txt")}
    for path in outputs.values():
        if os.path.exists(path):
            os.remove(path)
    port = desktop.server_on()
    for name, value in (("networkServerList_00_Active", 1), ("networkServerList_00_Enabled", 1),
                        ("networkServerList_00_Hostname", "127.0.0.1"), ("networkServerList_00_Port", port),
                        ("networkServerList_00_HighLatency", 0)):
        desktop.reg_add(name, value)
    add_rule(desktop, 0, {"figure": "gpu_core_c", "target": "local", "level": 80, "clear": 70, "holdSeconds": 6,
                          "cooldownSeconds": 0, "notify": 0,
                          "command": r'cmd /v:on /c "echo {state}/{tile}/{figure}/{value}/{level}/{time}/'
                                     r'!TARVELON_TILE!/!TARVELON_STATE!>>C:\gpu-alarms.txt"'})
    add_rule(desktop, 1, {"figure": "threads", "target": "127.0.0.1:%d" % port, "level": 1, "clear": 0,
                          "holdSeconds": 0, "notify": 0,
                          "command": r'cmd /c echo {state} {host}>>C:\server-alarms.txt'})
    with desktop.simulated_gpus(CONFIGURATION):
        desktop.start()
        rect = wait_for(desktop.panel_rect, 30, "the panel")

        wait_for(lambda: lines_of(outputs["server-alarms.txt"]), 60, "the server rule's command")
        check(lines_of(outputs["server-alarms.txt"]) == ["raised 127.0.0.1"],
              "the server rule: %r" % lines_of(outputs["server-alarms.txt"]))

        wait_for(lambda: len(lines_of(outputs["gpu-alarms.txt"])) >= 2, 90, "a raise and a clear")
        time.sleep(6)  # the second spike, 90 for 4 s, passes without a raise
        lines = [line.split("/") for line in lines_of(outputs["gpu-alarms.txt"])]
        check([line[0] for line in lines] == ["raised", "cleared"], "raise, then clear: %r" % lines)
        safe = "x_ _ echo pwned_C:_pwned.txt _ _"
        check(lines[0][1:5] == [safe, "gpu_core_c", "90", "80"], "the raise: %r" % lines[0])
        check(lines[1][1:3] == [safe, "gpu_core_c"] and int(lines[1][3]) <= 70,
              "cleared only past 70: %r" % lines[1])
        check(len(lines[0][5]) == 19 and lines[0][5][4] == "-" and lines[0][5][13] == ":", "the time: %r" % lines[0])
        check([line[6:] for line in lines] == [[HOSTILE_NAME, "raised"], [HOSTILE_NAME, "cleared"]],
              "the environment: %r" % lines)
        check(not os.path.exists(outputs["pwned.txt"]), "the name ran a command")

        # The dialog, by keyboard: Alarms… is the menu's sixth item.
        desktop.xdotool("mousemove", rect[0] + 40, rect[1] + 40)
        desktop.xdotool("click", 3)
        time.sleep(1.0)
        keys(desktop, *["Down"] * 5, "Return")
        wait_for(lambda: desktop.drive("visible", "Alarms", check_status=False) == "1", 15, "the Alarms dialog")
        keys(desktop, "alt+a")
        wait_for(lambda: desktop.drive("visible", "Alarm Rule", check_status=False) == "1", 15, "the Edit dialog")
        keys(desktop, "End", "shift+Home")
        desktop.xdotool("type", "--delay", "80", "*")
        keys(desktop, "Tab", "Home", "Down", "Down", "Tab", "Tab", "End", "shift+Home")
        desktop.xdotool("type", "--delay", "80", "2x")
        keys(desktop, "Return")
        check(desktop.drive("box", "Alarm rule check") == "Level: enter a whole number.", "the field at fault named")
        keys(desktop, "alt+l", "End", "shift+Home")
        desktop.xdotool("type", "--delay", "80", "2500")
        keys(desktop, "Return")
        wait_for(lambda: desktop.drive("visible", "Alarm Rule", check_status=False) != "1", 15, "the Edit dialog to close")
        keys(desktop, "alt+r", "End", "space")  # the new rule is the last line: its box switches it off
        time.sleep(1)
        keys(desktop, "Escape")
        wait_for(lambda: desktop.drive("visible", "Alarms", check_status=False) != "1", 15, "the Alarms dialog to close")
        stored = desktop.reg_query(RULES + "\\2")
        check(stored is not None and stored["figure"][1] == "processes" and stored["target"][1] == "*"
              and stored["level"][1] == hex(2500) and stored["enabled"][1] == "0x0", "the rule added: %r" % stored)
        check(desktop.running(), "the program runs on")


main(test)
