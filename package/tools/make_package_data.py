#!/usr/bin/env python3
"""Writes the shipped upgrade package into package/data/.

Run once when the package changes; the files it writes are committed and the
build embeds them as they are. Everything is deterministic, so running it again
reproduces the same bytes.
"""
import os
import sys

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")

MODELS = ["ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"]
FIRST_ID = 139
ITEMS = [  # (address, file type, file of the item)
    (0x1200000, 0, "common/FPGA.bin"),
    (0x12F0000, 1, "common/Firmware.img"),
    (0x13F7000, 2, "common/MANU.csv"),
    (0x13E0000, 2, "{model}/IMPLEMENTED.csv"),
    (0x13E5000, 2, "common/MANU.csv"),
    (0x13C0000, 3, "common/GenICam.zip"),
    (0x13B0000, 4, "common/MANIFEST.csv"),
    (0x1370000, 2, "common/ABRM.csv"),
    (0x13A0000, 2, "common/EIRM.csv"),
    (0x1380000, 2, "common/SBRM.csv"),
    (0x1390000, 2, "common/SIRM.csv"),
]


def write(relative, data):
    path = os.path.join(DATA, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def config_ini():
    lines = ["[DeviceTotal]", "Total=%d" % len(MODELS), "",
             "[DeviceModel]"]
    lines += ["DeviceModel%d=%s" % (i, m) for i, m in enumerate(MODELS)]
    lines += ["", ";设备型号对应的文件新旧，新为1；旧为0，需要与设备型号相对应".encode("gb2312"),
              "[ELF_VERSION]"]
    lines += ["%s=1" % m for m in MODELS]
    lines += ["", "; Binary File: 0   Img File: 1  Csv File: 2  XML File: 3  ManifestTable File: 4"]
    for k, model in enumerate(MODELS):
        lines += ["[%s]" % model, "FIRMWARE_VERSION=03_01", "BurnFileTotal=%d" % len(ITEMS), ""]
        for i, (address, file_type, _) in enumerate(ITEMS):
            source = "SourceID%d=%d" % (i, FIRST_ID + 11 * k + i)
            if k == 0 and i == 5:
                source += "  "  # as shipped: two trailing blanks
            lines += [source, "Address%d=0x%x" % (i, address), "FileType%d=%d" % (i, file_type)]
            if i + 1 < len(ITEMS):
                lines.append("")
        lines.append("")
    lines += ["[DEVICE_VERSION]", "DeviceVersion=1", "DevVersion0=1.1_2.1_2.1", ""]
    return b"\r\n".join(l if isinstance(l, bytes) else l.encode("ascii") for l in lines)


def resource_list():
    out = ["# Embedded resources of the upgrade package: TYPE ID FILE (relative to this folder).",
           "# The Windows build turns the same list into its resource script (language 2052).",
           "# Written by package/tools/make_package_data.py.",
           "CONFIG       131  Config.ini"]
    for k, model in enumerate(MODELS):
        for i, (_, _, name) in enumerate(ITEMS):
            out.append("UPGRADEFILE  %d  %s" % (FIRST_ID + 11 * k + i, name.format(model=model)))
    return ("\n".join(out) + "\n").encode("ascii")


def main():
    write("Config.ini", config_ini())
    if "--config-only" in sys.argv:
        write("resources.list", b"CONFIG       131  Config.ini\n")
        return
    write("resources.list", resource_list())


if __name__ == "__main__":
    main()
