#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/: a few hand-picked inputs each,
in the layouts the targets decode (see the first paragraph of each <target>_fuzz.cpp). Run it again
after changing a layout; the seeds are committed."""
import hashlib
import os
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def text16(text, units=40):
    raw = text.encode("utf-16-le")[: 2 * (units - 1)]
    return raw + bytes(2 * units - len(raw))


def host_record(name="render-01", cpus=12, load=37, mhz=3600, procs=312, threads=4100,
                phys_total=65536, phys_free=40000, page_total=75000, page_free=120000, gpus=2, changed=0):
    record = struct.pack("<BB", changed, 0) + text16(name)
    record += struct.pack("<HBBHBBHH2x", cpus, load, 0, mhz, 70, 0, procs, threads)
    record += struct.pack("<IIB3x", phys_total, phys_free, 39)
    record += struct.pack("<IIBBHB3x", page_total, page_free, 60, 0, 950, gpus)
    assert len(record) == 124
    return record


def gpu_record(name="GeForce RTX 4090", bus=1, slot=0, load=99, temp=85, fan=50, present=1, changed=0):
    record = struct.pack("<BBBBBB", changed, present, bus, slot, 1, 0) + text16(name)
    record += struct.pack("<BBHHBBHHBBHHBBBB", load, 0, 2520, 2235, 88, 0, 10501, 10251, 97, 0,
                          24564, 1200, 95, fan, temp, 120)
    assert len(record) == 108
    return record


# --- answer: request, length choice, GPU mask, host record, 16 GPU records
def answer_seeds():
    host = host_record()
    gpus = b"".join(gpu_record(bus=k + 1, temp=40 + k) for k in range(16))
    def seed(request, length, mask, records=host + gpus):
        return bytes(request) + struct.pack("<HH", length, mask) + records
    return {
        "query_two_gpus": seed([1, 0, 0x31], 3, 0b101),
        "query_sixteen_gpus": seed([1, 200, 0x31], 3, 0xFFFF),
        "query_no_gpus": seed([1, 7, 0x31], 3, 0, host),
        "probe": seed([1, 9, 0x11], 3, 0, b""),
        "bad_version": seed([2, 7, 0x31], 3, 0, b""),
        "unknown_code": seed([1, 9, 0x41], 3, 0, b""),
        "four_bytes": seed([1, 1, 0x31], 4, 1, b""),
        "failed_receive": seed([1, 1, 0x31], 0xFFFF, 0, b""),
    }


# --- reply: sequence, flags, two length choices, the bytes of both replies
def full_reply(sequence, gpus, name="render-01", count=None, version=1):
    count = len(gpus) if count is None else count
    return bytes([version, sequence, 0x32, count, 0, 0, 0]) + host_record(name=name, gpus=count) + b"".join(gpus)


def reply_seeds():
    two = full_reply(5, [gpu_record(bus=1), gpu_record(bus=2, temp=60)])
    renamed = full_reply(5, [gpu_record(bus=1)], name="render-02")
    short_five = full_reply(5, [gpu_record()], count=5)  # 239 bytes that announce five records
    sixteen = full_reply(5, [gpu_record(bus=k) for k in range(16)])
    def seed(flags, first, second, first_length=None, second_length=None):
        lengths = (len(first) if first_length is None else first_length,
                   len(second) if second_length is None else second_length)
        return bytes([5, flags]) + struct.pack("<HH", *lengths) + first + second
    return {
        "accepted_then_renamed": seed(1, two, renamed),
        "accepted_twice_untaken": seed(0, two, two),
        "count_past_length": seed(1, short_five, two),
        "sixteen_gpus": seed(0, sixteen, renamed),
        "wrong_sequence": seed(0, two, bytes([1, 6, 0x32]) + two[3:]),
        "short_answers": seed(0, bytes([1, 5, 0x01]), bytes([1, 5, 0x12])),
        "too_short_and_failed": seed(0, bytes([1, 5]), b"", None, 0xFFFF),
        "any_version": seed(1, full_reply(5, [gpu_record()], version=9), two),
    }


# --- settings: mode, then store operations {op, name choice, [type], size, data}
NUMBER_NAMES = ["windowPosX", "windowPosY", "layout", "fontsize", "alwaysontop", "networkServerEnabled",
                "networkServerPort", "removeDeadServer", "removeDeactivatedServer"]
TEXT_NAMES = ["networkServerHostname", "networkServerListen"]
SUFFIXES = ["Active", "Enabled", "Hostname", "Port", "HighLatency"]


def known(name):
    names = NUMBER_NAMES + TEXT_NAMES
    return names.index(name) if name in names else None


def slot_name(index, suffix):
    return 11 + 5 * index + SUFFIXES.index(suffix)


def put_dword(choice, value, size=4):
    return bytes([1 << 2]) + struct.pack("<HH", choice, size) + struct.pack("<i", value)[:size] + bytes(max(0, size - 4))


def put_text(choice, text, terminated=True):
    data = text.encode("utf-16-le") + (b"\0\0" if terminated else b"")
    return bytes([0]) + struct.pack("<HH", choice, len(data)) + data


def put_typed(choice, type_number, data):
    return bytes([2 << 2]) + struct.pack("<HIH", choice, type_number, len(data)) + data


def delete(choice):
    return bytes([3]) + struct.pack("<H", choice)


def put_other_name(name, value):
    units = name.encode("utf-16-le")
    return bytes([1 << 2]) + struct.pack("<HB", 400, len(name)) + units + struct.pack("<Hi", 4, value)


def slot_values(index, host, port, active=1, enabled=1, high_latency=0):
    return (put_dword(slot_name(index, "Active"), active) + put_dword(slot_name(index, "Enabled"), enabled) +
            put_text(slot_name(index, "Hostname"), host) + put_dword(slot_name(index, "Port"), port) +
            put_dword(slot_name(index, "HighLatency"), high_latency))


def settings_seeds():
    defaults = b"".join(put_dword(known(n), v) for n, v in
                        zip(NUMBER_NAMES, [960, 540, 1, 12, 0, 0, 8221, 0, 0]))
    defaults += put_text(known("networkServerHostname"), "My Hostname") + put_text(known("networkServerListen"), "*")
    store_file = ("4\twindowPosX\t64000000\n4\tfontsize\t14000000\n1\tnetworkServerHostname\t610062000000\n"
                  "4\tnetworkServerList_03_Active\t01000000\n1\tnetworkServerList_03_Hostname\t7800000000\n")
    damaged = "4\twindowPosX\t640000\n4 fontsize 14000000\n1\tnetworkServerListen\t2a0\nx\tlayout\t02000000\n\t\t\n"
    return {
        "saved_defaults": b"\0" + defaults,
        "two_servers": b"\0" + defaults + slot_values(0, "gpu-box", 8221) + slot_values(5, "fe80::1", 9000, 1, 0, 1),
        "wrong_types_and_sizes": b"\0" + put_text(known("fontsize"), "20") + put_dword(known("windowPosX"), 7, 8) +
                                 put_dword(known("windowPosY"), 7, 2) + put_dword(known("networkServerHostname"), 7) +
                                 put_typed(known("layout"), 3, b"\x02\0\0\0") + put_typed(known("alwaysontop"), 0, b""),
        "long_texts": b"\0" + put_text(known("networkServerHostname"), "h" * 127, terminated=False) +
                      put_text(known("networkServerListen"), "l" * 126) + put_dword(slot_name(4, "Active"), 1) +
                      put_text(slot_name(4, "Hostname"), "s" * 128, terminated=False) +
                      put_text(slot_name(7, "Hostname"), "n" * 127),
        "slots_without_active": b"\0" + slot_values(2, "parked", 8221) + delete(slot_name(2, "Active")) +
                                slot_values(7, "idle", 9100, active=0) + slot_values(63, "last", 65535),
        "other_names": b"\0" + put_other_name("fontsize ", 30) + put_other_name("Fontsize", 31) +
                       put_other_name("tab\there", 1) + put_other_name("\u00e9t\u00e9", 2) + delete(known("layout")),
        "store_file": b"\1" + store_file.encode(),
        "damaged_store_file": b"\1" + damaged.encode(),
    }


# --- panel: settings, window, local GPUs, slots, passes, then the record bytes
def panel_seed(fontsize, layout, local_gpus, servers, passes, filters=0, command=0, records=b"", window=(100, 200, 500, 500)):
    seed = struct.pack("<iiBB", fontsize, layout, filters, command)
    seed += struct.pack("<hhHH", *window)
    seed += struct.pack("<HBB", (1 << local_gpus) - 1, 1, len(servers))
    for index, gpus, status, enabled in servers:
        seed += struct.pack("<BBBbBHB", index, 1, 6, status, enabled, (1 << gpus) - 1, 1)
    seed += bytes([len(passes)])
    for op, argument in passes:
        seed += struct.pack("<Bi", op, argument)
    return seed + records


FULL, TICK = 0, 1
def change(kind, argument, tick=True):
    return ((kind << 1) | (TICK if tick else FULL), argument)


def panel_seeds():
    mixed = [(4, 1, 3, 1), (9, 3, 3, 1)]
    local_records = host_record() + gpu_record(bus=1) + gpu_record(bus=2, load=50, temp=120)
    remote_records = (host_record(name="gpu-box", phys_free=100000) + gpu_record(fan=255) +
                      host_record(name="") + b"".join(gpu_record(bus=k) for k in range(3)))
    everyone = [(s, 16, 3, 1) for s in range(64)]
    return {
        "mixed_rows": panel_seed(12, 1, 2, mixed, [(TICK, 0), change(5, 4 | 2 << 8), (TICK, 0)],
                                 records=local_records + remote_records),
        "mixed_columns": panel_seed(12, 2, 2, mixed, [change(6, 9), (FULL, 0), change(3, 3)],
                                    records=local_records + remote_records),
        "other_layout": panel_seed(20, 7, 3, mixed, [(TICK, 0), change(2, 1, tick=False), change(2, 5, tick=False)]),
        "everyone_huge_font": panel_seed(100000, 2, 16, everyone, []),  # the largest picture there is
        "tiny_and_negative_fonts": panel_seed(1, 2, 1, mixed, [change(1, 0, tick=False), change(1, -5, tick=False),
                                                               change(1, 2, tick=False)]),
        "move_handshake": panel_seed(12, 1, 0, mixed, [change(4, 1), change(4, 2), change(4, 0), (FULL, 0)],
                                     command=1),
        "filters_and_removal": panel_seed(12, 1, 1, [(0, 2, 2, 1), (1, 0, 3, 0), (2, 1, 3, 1)],
                                          [change(7, 1 | 1 << 16), change(3, 1), change(3, 2)], filters=3),
        "far_window": panel_seed(12, 1, 1, mixed, [(TICK, 0)], window=(-32768, 32767, 0, 65535)),
    }


# --- metrics_request: method, path, target, timeout header, networks, listen address, label value
def metrics_request_seeds():
    def seed(*texts):
        return b"\0".join(text.encode() for text in texts)

    return {
        "probe": seed("GET", "/probe", "pc7:8221", "10", "10.0.0.0/8,2001:db8::/32", ":8221", "rack 7"),
        "ipv6": seed("GET", "/metrics", "[2001:db8::7]:9000", "0.5", "::1,127.0.0.1/32", "[::1]:9", 'a"b\\c\nd'),
        "malformed": seed("POST", "/probe?x", "[::1", "x", "10.0.0.0/33", "127.0.0.1:0", "\\"),
    }


# --- allow_list: a sender (family byte, 16 address bytes), then the typed list in UTF-16
def allow_list_seeds():
    def seed(family, address, text):
        return bytes([family]) + address.ljust(16, b"\0") + text.encode("utf-16-le")

    return {
        "ipv4": seed(0, bytes([192, 168, 1, 7]), "192.168.1.0/24, 10.0.0.7"),
        "ipv6": seed(1, bytes.fromhex("20010db8000000010000000000000001"), "2001:db8:0:1::/64,fd00::/8,::1"),
        "mapped": seed(1, bytes.fromhex("00000000000000000000ffff7f000001"), "::ffff:127.0.0.0/104"),
        "malformed": seed(0, b"", "10.0.0.0/33,,1::2::3"),
    }


# --- web_config: the YAML text of --web-config
def web_config_seeds():
    hashed = "$2b$04$abcdefghijklmnopqrstuuLZYjhNQAOdpbzt4WxWlUHjv1wsyH5DG"
    return {
        "tls_and_users": ("tls_server_config:\n  cert_file: /a.crt\n  key_file: /a.key\n"
                          "basic_auth_users:\n  prometheus: " + hashed + "\n").encode(),
        "flow": ('{basic_auth_users: {a: "' + hashed + '", b: x}}').encode(),
        "anchors": b"tls_server_config: &t\n  cert_file: /a\nbasic_auth_users: *t\n",
        "versions_and_documents": ("tls_server_config:\n  cert_file: /a\n  key_file: /b\n  min_version: TLS13\n"
                                   "  max_version: TLS13\n  prefer_server_cipher_suites: false\n---\n"
                                   "basic_auth_users:\n  a: " + hashed.replace("$04$", "$31$") + "\n").encode(),
    }


def main():
    targets = {"answer": answer_seeds(), "reply": reply_seeds(), "settings": settings_seeds(), "panel": panel_seeds(),
               "metrics_request": metrics_request_seeds(), "allow_list": allow_list_seeds(),
               "web_config": web_config_seeds()}
    for target, seeds in targets.items():
        directory = os.path.join(HERE, "corpus", target)
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        for name, data in seeds.items():
            with open(os.path.join(directory, name), "wb") as out:
                out.write(data)
        print(f"{target}: {len(seeds)} seeds, {sum(len(d) for d in seeds.values())} bytes")


if __name__ == "__main__":
    sys.exit(main())
