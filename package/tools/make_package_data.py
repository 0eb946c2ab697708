#!/usr/bin/env python3
"""Writes the shipped upgrade package into package/data/.

Run once when the package changes; the files it writes are committed and the
build embeds them as they are. Everything is deterministic, so running it again
reproduces the same bytes.
"""
import hashlib
import os
import struct
import sys
import zlib

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")

MODELS = ["ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"]
# The firmware version text a camera of each model reports once it runs this
# package (register 0x300000, as the simulated demo cameras come back with it).
RELEASE_FIRMWARE = {model: "V01.03.002.001:V01.06" for model in MODELS}
RELEASE_ID = 132
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


def release_ini():
    """Release metadata: what a camera reports once upgraded from this package.
    The package configuration's FIRMWARE_VERSION is a compatibility rule, not
    this version."""
    lines = ["; Written by package/tools/make_package_data.py.",
             "; Per model: the firmware version a camera reports once it runs this package.", ""]
    for model in MODELS:
        lines += ["[%s]" % model, "FirmwareVersion=%s" % RELEASE_FIRMWARE[model], ""]
    return ("\n".join(lines)).encode("ascii")


# ---- opaque files -----------------------------------------------------------

def stream(seed, size):
    """Deterministic pseudo-random bytes (SHA-256 in counter mode)."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (seed, counter)).digest()
        counter += 1
    return bytes(out[:size])


def words(*values):
    return b"".join(struct.pack(">I", v) for v in values)


def fpga_bitstream():
    """A configuration bitstream: dummy words, the sync word, the register
    writes of a configuration, one long frame-data packet, CRC and desync."""
    size = 466408
    header = b"\xff" * 16 + bytes([0xAA, 0x99, 0x55, 0x66])
    header += words(0x20000000,              # NOOP
                    0x30008001, 0x00000007,  # CMD RCRC
                    0x20000000, 0x20000000,
                    0x30018001, 0x03651093,  # IDCODE
                    0x30008001, 0x00000001,  # CMD WCFG
                    0x30002001, 0x00000000,  # FAR
                    0x30004000)              # FDRI, type-2 packet follows
    trailer = words(0x30000001, 0x1F3A7C55,  # CRC
                    0x30008001, 0x00000005,  # CMD START
                    0x30008001, 0x0000000D,  # CMD DESYNC
                    0x20000000, 0x20000000, 0x20000000, 0x20000000)
    frame_bytes = size - len(header) - 4 - len(trailer)
    frame_bytes -= frame_bytes % 4
    padding = size - len(header) - 4 - frame_bytes - len(trailer)
    # Frame data: mostly zero words, as unused fabric is.
    raw = stream(b"ORV-2 FPGA frames", frame_bytes)
    frames = bytearray(raw)
    for i in range(0, frame_bytes, 4):
        if raw[i] < 150:
            frames[i:i + 4] = b"\0\0\0\0"
    body = header + words(0x50000000 | (frame_bytes // 4)) + bytes(frames) + trailer + b"\0" * padding
    assert len(body) == size
    return body


def firmware_image():
    """A controller boot image: "CY", control and type bytes, sections of
    (length in words, load address, data), the entry address and a checksum."""
    size = 235984
    banner = (b"ORV-2 U3V controller firmware V01.03.001.001:V01.01 (c) Zorvan\0").ljust(64, b"\0")
    code_bytes = 200000
    data_bytes = size - 4 - 8 - code_bytes - 8 - 8 - 4
    code = banner + stream(b"ORV-2 firmware code", code_bytes - len(banner))
    data = stream(b"ORV-2 firmware data", data_bytes)
    image = bytearray(b"CY\x1c\xb0")
    checksum = 0
    for address, section in ((0x40003000, code), (0x40080000, data)):
        assert len(section) % 4 == 0
        image += struct.pack("<II", len(section) // 4, address) + section
        checksum = (checksum + sum(struct.unpack("<%dI" % (len(section) // 4), section))) & 0xFFFFFFFF
    image += struct.pack("<II", 0, 0x40003100) + struct.pack("<I", checksum)
    assert len(image) == size
    return bytes(image)


# ---- GenICam device description -------------------------------------------

XML_NAME = "Zorvan_ORV-2.xml"
ZIP_SIZE = 27192


def genicam_xml():
    x = XmlWriter()
    x.open("RegisterDescription", [
        ("ModelName", "ORV2"), ("VendorName", "Zorvan"),
        ("ToolTip", "ORV-2 family of USB3 Vision area-scan cameras"),
        ("StandardNameSpace", "None"), ("SchemaMajorVersion", "1"), ("SchemaMinorVersion", "1"),
        ("SchemaSubMinorVersion", "0"), ("MajorVersion", "1"), ("MinorVersion", "1"),
        ("SubMinorVersion", "15"), ("ProductGuid", "7A3C51E2-0B4D-4F6E-9C21-5D8E2F0A1B3C"),
        ("VersionGuid", "4E9B2D70-6C1A-4B38-A5F2-9D0E7C3B8A16"),
        ("xmlns", "http://www.genicam.org/GenApi/Version_1_1"),
        ("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance"),
        ("xsi:schemaLocation", "http://www.genicam.org/GenApi/Version_1_1 "
                               "http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd")])
    categories = [
        ("DeviceControl", "Device information and control.", DEVICE_FEATURES),
        ("ImageFormatControl", "Image size and format.", IMAGE_FEATURES),
        ("AcquisitionControl", "Acquisition and triggering.", ACQUISITION_FEATURES),
        ("AnalogControl", "Gain, black level and white balance.", ANALOG_FEATURES),
        ("DigitalIOControl", "Lines and user outputs.", IO_FEATURES),
        ("UserSetControl", "Saving and loading of user parameters.", USERSET_FEATURES),
        ("TransportLayerControl", "USB3 Vision transport layer.", TRANSPORT_FEATURES),
    ]
    x.open("Category", [("Name", "Root"), ("NameSpace", "Standard")])
    for name, _, _ in categories:
        x.leaf("pFeature", name)
    x.close("Category")
    for name, tip, features in categories:
        x.open("Category", [("Name", name), ("NameSpace", "Standard")])
        for feature in features:
            x.leaf("pFeature", feature[1])
        x.close("Category")
        for feature in features:
            emit_feature(x, feature)
    x.open("Port", [("Name", "Device"), ("NameSpace", "Standard")])
    x.close("Port")
    x.close("RegisterDescription")
    return x


class XmlWriter:
    def __init__(self):
        self.lines = ['<?xml version="1.0" encoding="utf-8"?>']
        self.depth = 0

    def open(self, tag, attributes=()):
        text = "".join(' %s="%s"' % (k, v) for k, v in attributes)
        self.lines.append("\t" * self.depth + "<%s%s>" % (tag, text))
        self.depth += 1

    def close(self, tag):
        self.depth -= 1
        self.lines.append("\t" * self.depth + "</%s>" % tag)

    def leaf(self, tag, value, attributes=()):
        text = "".join(' %s="%s"' % (k, v) for k, v in attributes)
        self.lines.append("\t" * self.depth + "<%s%s>%s</%s>" % (tag, text, value, tag))

    def text(self):
        return "\n".join(self.lines) + "\n"


# (kind, name, tool tip, details)
DEVICE_FEATURES = [
    ("string", "DeviceVendorName", "Name of the manufacturer.", (0x4, 64, "RO")),
    ("string", "DeviceModelName", "Model of the device.", (0x44, 64, "RO")),
    ("string", "DeviceFamilyName", "Product family of the device.", (0x84, 64, "RO")),
    ("string", "DeviceVersion", "Version of the device.", (0xC4, 64, "RO")),
    ("string", "DeviceManufacturerInfo", "Manufacturer information.", (0x104, 64, "RO")),
    ("string", "DeviceSerialNumber", "Serial number of the device.", (0x144, 64, "RO")),
    ("string", "DeviceUserID", "User-programmable device identifier.", (0x184, 64, "RW")),
    ("string", "DeviceFirmwareVersion", "Version of the controller firmware.", (0x300000, 32, "RO")),
    ("string", "DeviceFactoryVersion", "Version of the factory settings.", (0x80007C, 32, "RO")),
    ("integer", "DeviceTemperature", "Temperature of the sensor board in 1/10 degree Celsius.",
     (0x10200, "RO", -400, 1250, 1)),
    ("integer", "DeviceLinkThroughputLimit", "Throughput limit of the link in bytes per second.",
     (0x10208, "RW", 10000000, 400000000, 1000000)),
    ("command", "DeviceReset", "Resets the device; it re-enumerates afterwards.", (0x1020C, 1)),
]
IMAGE_FEATURES = [
    ("integer", "SensorWidth", "Effective width of the sensor in pixels.", (0x11000, "RO", 1, 1920, 1)),
    ("integer", "SensorHeight", "Effective height of the sensor in pixels.", (0x11004, "RO", 1, 1200, 1)),
    ("integer", "WidthMax", "Largest possible width.", (0x11008, "RO", 1, 1920, 1)),
    ("integer", "HeightMax", "Largest possible height.", (0x1100C, "RO", 1, 1200, 1)),
    ("integer", "Width", "Width of the image in pixels.", (0x11010, "RW", 16, 1920, 16)),
    ("integer", "Height", "Height of the image in pixels.", (0x11014, "RW", 2, 1200, 2)),
    ("integer", "OffsetX", "Horizontal offset of the region of interest.", (0x11018, "RW", 0, 1904, 16)),
    ("integer", "OffsetY", "Vertical offset of the region of interest.", (0x1101C, "RW", 0, 1198, 2)),
    ("enumeration", "PixelFormat", "Format of the pixels delivered.",
     (0x11020, "RW", [("Mono8", 0x01080001), ("Mono10", 0x01100003), ("Mono12", 0x01100005),
                      ("BayerRG8", 0x01080009), ("BayerRG10", 0x0110000D), ("BayerRG12", 0x01100011)])),
    ("enumeration", "BinningHorizontal", "Horizontal binning.", (0x11024, "RW", [("X1", 1), ("X2", 2)])),
    ("enumeration", "BinningVertical", "Vertical binning.", (0x11028, "RW", [("X1", 1), ("X2", 2)])),
    ("boolean", "ReverseX", "Flips the image horizontally.", (0x1102C, "RW")),
    ("boolean", "ReverseY", "Flips the image vertically.", (0x11030, "RW")),
    ("integer", "PayloadSize", "Bytes of one image.", (0x11038, "RO", 0, 0x7FFFFFFF, 1)),
]
ACQUISITION_FEATURES = [
    ("enumeration", "AcquisitionMode", "Acquisition mode of the device.",
     (0x12000, "RW", [("Continuous", 0), ("SingleFrame", 1), ("MultiFrame", 2)])),
    ("command", "AcquisitionStart", "Starts the acquisition.", (0x12004, 1)),
    ("command", "AcquisitionStop", "Stops the acquisition.", (0x12008, 1)),
    ("integer", "AcquisitionFrameCount", "Frames of a multi-frame acquisition.", (0x1200C, "RW", 1, 65535, 1)),
    ("float", "AcquisitionFrameRate", "Frame rate in hertz.", (0x12010, "RW", 0.1, 165.0)),
    ("boolean", "AcquisitionFrameRateEnable", "Limits the frame rate.", (0x12014, "RW")),
    ("float", "ResultingFrameRate", "Frame rate that the current settings allow.", (0x12018, "RO", 0.1, 165.0)),
    ("enumeration", "TriggerSelector", "Trigger to configure.", (0x1201C, "RW", [("FrameStart", 0)])),
    ("enumeration", "TriggerMode", "Whether the selected trigger is active.",
     (0x12020, "RW", [("Off", 0), ("On", 1)])),
    ("enumeration", "TriggerSource", "Source of the trigger.",
     (0x12024, "RW", [("Software", 0), ("Line0", 1), ("Line2", 3), ("Line3", 4)])),
    ("enumeration", "TriggerActivation", "Edge that fires the trigger.",
     (0x12028, "RW", [("RisingEdge", 0), ("FallingEdge", 1)])),
    ("float", "TriggerDelay", "Delay after the trigger in microseconds.", (0x1202C, "RW", 0.0, 1000000.0)),
    ("command", "TriggerSoftware", "Fires a software trigger.", (0x12030, 1)),
    ("enumeration", "ExposureMode", "How the exposure is controlled.", (0x12034, "RW", [("Timed", 1)])),
    ("enumeration", "ExposureAuto", "Automatic exposure.",
     (0x12038, "RW", [("Off", 0), ("Once", 1), ("Continuous", 2)])),
    ("float", "ExposureTime", "Exposure time in microseconds.", (0x1203C, "RW", 28.0, 1000000.0)),
]
ANALOG_FEATURES = [
    ("enumeration", "GainAuto", "Automatic gain.", (0x13000, "RW", [("Off", 0), ("Once", 1), ("Continuous", 2)])),
    ("float", "Gain", "Gain in decibel.", (0x13004, "RW", 0.0, 24.0)),
    ("float", "BlackLevel", "Black level in grey values.", (0x13008, "RW", 0.0, 255.0)),
    ("float", "Gamma", "Gamma correction.", (0x1300C, "RW", 0.1, 4.0)),
    ("boolean", "GammaEnable", "Enables the gamma correction.", (0x13010, "RW")),
    ("enumeration", "BalanceRatioSelector", "Colour channel of the balance ratio (colour models).",
     (0x13014, "RW", [("Red", 0), ("Green", 1), ("Blue", 2)])),
    ("float", "BalanceRatio", "Balance ratio of the selected channel.", (0x13018, "RW", 0.0, 15.99)),
    ("enumeration", "BalanceWhiteAuto", "Automatic white balance (colour models).",
     (0x1301C, "RW", [("Off", 0), ("Once", 1), ("Continuous", 2)])),
]
IO_FEATURES = [
    ("enumeration", "LineSelector", "Line to configure.",
     (0x14000, "RW", [("Line0", 0), ("Line1", 1), ("Line2", 2), ("Line3", 3)])),
    ("enumeration", "LineMode", "Input or output.", (0x14004, "RW", [("Input", 0), ("Output", 1)])),
    ("boolean", "LineInverter", "Inverts the selected line.", (0x14008, "RW")),
    ("boolean", "LineStatus", "Current level of the selected line.", (0x1400C, "RO")),
    ("integer", "LineStatusAll", "Levels of all lines, one bit each.", (0x14010, "RO", 0, 15, 1)),
    ("enumeration", "LineSource", "Signal driving the selected output line.",
     (0x14014, "RW", [("Off", 0), ("ExposureActive", 1), ("UserOutput0", 2), ("UserOutput1", 3)])),
    ("float", "LineDebouncerTime", "Debouncing time of the selected input in microseconds.",
     (0x14018, "RW", 0.0, 5000.0)),
    ("enumeration", "UserOutputSelector", "User output to set.",
     (0x1401C, "RW", [("UserOutput0", 0), ("UserOutput1", 1)])),
    ("boolean", "UserOutputValue", "Level of the selected user output.", (0x14020, "RW")),
]
USERSET_FEATURES = [
    ("enumeration", "UserSetSelector", "User set to load or save.",
     (0x15000, "RW", [("Default", 0), ("UserSet1", 1), ("UserSet2", 2)])),
    ("command", "UserSetLoad", "Loads the selected user set.", (0x15004, 1)),
    ("command", "UserSetSave", "Saves the current settings to the selected user set.", (0x15008, 1)),
    ("enumeration", "UserSetDefault", "User set loaded at power-up.",
     (0x1500C, "RW", [("Default", 0), ("UserSet1", 1), ("UserSet2", 2)])),
]
TRANSPORT_FEATURES = [
    ("integer", "PayloadTransferSize", "Bytes per bulk transfer.", (0x16000, "RO", 0, 0x7FFFFFFF, 1)),
    ("integer", "PayloadTransferCount", "Transfers per image.", (0x16004, "RO", 0, 0x7FFFFFFF, 1)),
    ("integer", "PayloadFinalTransfer1Size", "Bytes of the first final transfer.", (0x16008, "RO", 0, 0x7FFFFFFF, 1)),
    ("integer", "PayloadFinalTransfer2Size", "Bytes of the second final transfer.", (0x1600C, "RO", 0, 0x7FFFFFFF, 1)),
    ("integer", "DeviceSFNCVersionMajor", "Major version of the feature naming convention.", (0x16010, "RO", 0, 255, 1)),
    ("integer", "DeviceSFNCVersionMinor", "Minor version of the feature naming convention.", (0x16014, "RO", 0, 255, 1)),
    ("integer", "DeviceSFNCVersionSubMinor", "Subminor version of the feature naming convention.",
     (0x16018, "RO", 0, 255, 1)),
]


def register(x, tag, name, address, length, access, extra=()):
    x.open(tag, [("Name", name + "Reg")])
    x.leaf("Address", "0x%x" % address)
    x.leaf("Length", str(length))
    x.leaf("AccessMode", access)
    x.leaf("pPort", "Device")
    for key, value in extra:
        x.leaf(key, value)
    x.close(tag)


def access_of(details):
    return details[1]


def emit_feature(x, feature):
    kind, name, tip, details = feature
    if kind == "string":
        address, length, access = details
        x.open("StringReg", [("Name", name)])
        x.leaf("ToolTip", tip)
        x.leaf("Address", "0x%x" % address)
        x.leaf("Length", str(length))
        x.leaf("AccessMode", access)
        x.leaf("pPort", "Device")
        x.close("StringReg")
    elif kind == "integer" and access_of(details) == "RO":
        # A read-only value needs no limits: the register itself is the feature.
        address, access, minimum, _, _ = details
        x.open("IntReg", [("Name", name)])
        x.leaf("ToolTip", tip)
        x.leaf("Address", "0x%x" % address)
        x.leaf("Length", "4")
        x.leaf("AccessMode", access)
        x.leaf("pPort", "Device")
        if minimum < 0:
            x.leaf("Sign", "Signed")
        x.close("IntReg")
    elif kind == "integer":
        address, access, minimum, maximum, increment = details
        x.open("Integer", [("Name", name)])
        x.leaf("ToolTip", tip)
        x.leaf("pValue", name + "Reg")
        x.leaf("Min", str(minimum))
        x.leaf("Max", str(maximum))
        x.leaf("Inc", str(increment))
        x.close("Integer")
        register(x, "IntReg", name, address, 4, access, [("Sign", "Signed")] if minimum < 0 else [])
    elif kind == "float":
        address, access, minimum, maximum = details
        x.open("Float", [("Name", name)])
        x.leaf("ToolTip", tip)
        x.leaf("pValue", name + "Reg")
        x.leaf("Min", repr(minimum))
        x.leaf("Max", repr(maximum))
        x.close("Float")
        register(x, "FloatReg", name, address, 4, access)
    elif kind == "boolean":
        address, access = details
        x.open("Boolean", [("Name", name)])
        x.leaf("ToolTip", tip)
        x.leaf("pValue", name + "Reg")
        x.close("Boolean")
        register(x, "IntReg", name, address, 4, access)
    elif kind == "enumeration":
        address, access, entries = details
        x.open("Enumeration", [("Name", name)])
        x.leaf("ToolTip", tip)
        for entry, value in entries:
            x.open("EnumEntry", [("Name", entry)])
            x.leaf("Value", str(value))
            x.close("EnumEntry")
        x.leaf("pValue", name + "Reg")
        x.close("Enumeration")
        register(x, "IntReg", name, address, 4, access)
    elif kind == "command":
        address, value = details
        x.open("Command", [("Name", name)])
        x.leaf("ToolTip", tip)
        x.leaf("pValue", name + "Reg")
        x.leaf("CommandValue", str(value))
        x.close("Command")
        register(x, "IntReg", name, address, 4, "WO")
    else:
        raise ValueError(kind)


def genicam_zip():
    """A zip archive holding the device description, stored, with a fixed date so
    the bytes never change. The description is padded with a closing comment to
    give the archive its shipped size."""
    name = XML_NAME.encode("ascii")
    overhead = 30 + len(name) + 46 + len(name) + 22
    writer = genicam_xml()
    writer.lines.insert(-1, "@@PAD@@")
    skeleton = writer.text().replace("@@PAD@@\n", "")
    room = ZIP_SIZE - overhead - len(skeleton.encode("utf-8"))
    history = ("\t<!--\n"
               "\tRevision history of the ORV-2 device description\n"
               "\t1.1.15  2021-06-09  line debouncer, user output selector\n"
               "\t1.1.14  2020-11-23  acquisition frame count, trigger delay in microseconds\n"
               "\t1.1.12  2020-03-02  black level and gamma for the mono models\n"
               "\t1.1.10  2019-08-15  user sets, link throughput limit\n"
               "\t1.1.6   2019-04-02  line inverter and line status for all lines\n"
               "\t1.1.0   2018-12-11  first release for the ORV-2 family\n")
    closing = "\t-->\n"
    filler = room - len(history) - len(closing)
    assert filler == 0 or filler >= 2, "description too long for the archive by %d bytes" % -filler
    pad = history + "\t" + " " * (filler - 2) + "\n" + closing if filler >= 2 else history + closing
    xml = writer.text().replace("@@PAD@@\n", pad).encode("utf-8")
    assert len(xml) == ZIP_SIZE - overhead

    crc = zlib.crc32(xml) & 0xFFFFFFFF
    dos_time = (9 << 11) | (21 << 5) | 0          # 09:21:00
    dos_date = ((2021 - 1980) << 9) | (6 << 5) | 9  # 2021-06-09
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, dos_time, dos_date, crc, len(xml), len(xml),
                        len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 10, 0, 0, dos_time, dos_date, crc, len(xml),
                          len(xml), len(name), 0, 0, 0, 0, 0x20, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(xml), 0)
    archive = local + xml + central + end
    assert len(archive) == ZIP_SIZE
    return archive


# ---- register tables --------------------------------------------------------

class Table:
    """A register table in the block layout: an address row, then blocks."""

    def __init__(self, address):
        self.rows = ["0x%x,,," % address]

    def block(self, block_size, section_length, label):
        self.rows += ["0,%d,," % block_size, "1,%d,%s," % (section_length, label)]
        self.section = section_length
        self.used = 0

    def value(self, width, value, name):
        text = "0x%0*x" % (width * 2, value) if width <= 8 else str(value)
        self.rows.append("2,%d,%s, %s;" % (width, text, name))
        self.used += width

    def decimal(self, width, value, name):
        self.rows.append("2,%d,%d, %s;" % (width, value, name))
        self.used += width

    def pair(self, first, second, name):
        self.rows.append("3,8,0x%08x,0x%08x, %s;" % (first, second, name))
        self.used += 8

    def text(self, width, text, name):
        assert len(text) <= width
        self.rows.append("4,%d,%s,%s;" % (width, text, name))
        self.used += width

    def end(self):
        assert self.used == self.section, (self.used, self.section)
        self.rows.append("1,0x55aa,,")

    def csv(self, trailing_empty_rows=0):
        rows = self.rows + [",,,,,"] * trailing_empty_rows
        return ("\r\n".join(rows) + "\r\n").encode("ascii")


def abrm_table():
    t = Table(0x0)
    t.block(532, 528, "ABRM")
    t.value(4, 0x00010000, "ui32GenCPVersion")
    t.text(64, "Zorvan", "ui8ManufacturerName[64]")
    t.text(64, "0", "ui8ModelName[64]")
    t.text(64, "ORV-2", "ui8FamilyName[64]")
    t.text(64, "1.1_2.1_2.1", "ui8DeviceVersion[64]")
    t.text(64, "Zorvan USB3 Vision camera", "ui8ManufacturerInfo[64]")
    t.text(64, "0", "ui8SerialNumber[64]")
    t.text(64, "0", "ui8UserDefinedName[64]")
    t.value(8, 0x000000000000030F, "ui64DeviceCapability")
    t.decimal(4, 200, "ui32MaximumDeviceResponseTime")
    t.value(8, 0x390000, "ui64ManifestTableAddress")
    t.value(8, 0x380000, "ui64SBRMAddress")
    t.value(8, 0, "ui64DeviceConfiguration")
    t.decimal(4, 3000, "ui32HeartbeatTimeout")
    t.value(4, 0, "ui32MessageChannelID")
    t.value(8, 0, "ui64Timestamp")
    t.value(4, 0, "ui32TimestampLatch")
    t.value(8, 1000, "ui64TimestampIncrement")
    t.value(4, 0, "ui32AccessPrivilege")
    t.value(4, 0xFFFFFFFF, "ui32ProtocolEndianness")
    t.value(4, 0xFFFFFFFF, "ui32ImplementationEndianness")
    t.end()
    return t.csv()


def sbrm_table():
    # The bootstrap registers of the USB3 Vision layer, as shipped.
    rows = [
        "0x380000,,,",
        "0,72,,",
        "1,68,SBRM,",
        "2,4,0x00010000, ui32U3VVersion;",
        "2,8,0x0000000000000003, ui64U3VCPCapability;",
        "2,8,0x0000000000000000, ui64U3VCPConfiguration;",
        "2,4,0x00000400, ui32MaximumCommandTransferLength;",
        "2,4,0x00000400, ui32MaximumAcknowledgeTransferLength;",
        "2,4,0x00000001, ui32NumberofStreamChannels;",
        "2,8,0x0000000000020000, ui64SIRMAddress;",
        "2,4,0x30, ui32SIRMLength;",
        "2,8,0x0000000000021000, ui64EIRMAddress;",
        "2,4,0x0000000C, ui32EIRMLength;",
        "2,8,0, ui64IIDC2Address;",
        "2,4,0x00000008, ui32CurrentSpeed;",
        "1,0x55aa,,",
    ]
    return ("\r\n".join(rows) + "\r\n").encode("ascii")


def sirm_table():
    t = Table(0x20000)
    t.block(52, 48, "SIRM")
    t.value(4, 0x00000000, "ui32SIInfo")
    t.value(4, 0x00000000, "ui32SIControl")
    t.value(8, 0, "ui64SIRequiredPayloadSize")
    t.decimal(4, 52, "ui32SIRequiredLeaderSize")
    t.decimal(4, 32, "ui32SIRequiredTrailerSize")
    t.decimal(4, 1024, "ui32SIMaximumLeaderSize")
    t.value(4, 0x00100000, "ui32SIPayloadTransferSize")
    t.decimal(4, 0, "ui32SIPayloadTransferCount")
    t.decimal(4, 0, "ui32SIPayloadFinalTransfer1Size")
    t.decimal(4, 0, "ui32SIPayloadFinalTransfer2Size")
    t.decimal(4, 1024, "ui32SIMaximumTrailerSize")
    t.end()
    return t.csv()


def eirm_table():
    t = Table(0x21000)
    t.block(16, 12, "EIRM")
    t.value(4, 0x00000000, "ui32EIControl")
    t.value(4, 0x00000100, "ui32MaximumEventTransferLength")
    t.value(4, 0x00000000, "ui32EventTestControl")
    t.end()
    return t.csv(trailing_empty_rows=84)


def manifest_table():
    t = Table(0x390000)
    t.block(76, 72, "MANIFEST")
    t.value(8, 1, "ui64EntryNumber")
    t.value(4, 0x0101000F, "ui32FileVersion")
    t.value(4, 0x01010400, "ui32SchemaVersion")
    t.value(8, 0xD00000, "ui64RegisterAddress")
    t.value(8, 0, "ui64FileSize")
    t.text(20, "0", "ui8SHA1Hash[20]")
    t.text(20, "0", "ui8Reserved[20]")
    t.end()
    return t.csv()


def manu_table():
    """Factory parameters: three 1024-byte blocks."""
    t = Table(0x800000)
    t.block(1024, 764, "MANU_PARAM")
    t.value(4, 0x00010001, "ui32ManuParamVersion")
    t.text(32, "ORV-2", "ui8ProductFamily[32]")
    t.text(32, "0", "ui8ProductionLot[32]")
    t.value(4, 0, "ui32ManufactureDate")
    t.value(4, 1, "ui32HardwareRevision")
    t.value(4, 2, "ui32SensorBoardRevision")
    t.value(4, 1, "ui32InterfaceBoardRevision")
    t.value(4, 0, "ui32Reserved0")
    t.text(32, "0", "ui8TestStation[32]")
    t.text(64, "01.01.1811.9211", "ui8FactorySettingVersion[64]")  # register 0x80007C
    t.value(4, 0x0000FFFF, "ui32FeatureMask")
    t.value(4, 0x000000EF, "ui32FlashVendorId")
    t.value(4, 0x00000010, "ui32FlashSizeMB")
    t.decimal(4, 850, "ui32MaxSensorTemperature")
    t.decimal(4, 750, "ui32WarnSensorTemperature")
    t.decimal(4, 3, "ui32LineCount")
    t.value(4, 0x00000005, "ui32LineCapabilities")
    t.decimal(4, 2, "ui32UserSetCount")
    t.decimal(4, 0, "ui32DefaultUserSet")
    for i in range(16):
        t.pair(0x1000 + 4 * i, 0x00010000, "ui32GainTableIndex%d/ui32GainTableValue%d" % (i, i))
    for i in range(8):
        t.decimal(4, 64 + i, "ui32BlackLevelOffset%d" % i)
    t.text(256, "0", "ui8CalibrationData[256]")
    t.text(764 - t.used, "0", "ui8Reserved[%d]" % (764 - t.used))
    t.end()

    t.block(1024, 512, "MANU_FPGA_PARAM")
    fpga = [(0x0000, 0x00000001), (0x0004, 0x00000000), (0x0008, 0x00000780), (0x000C, 0x000004B0)]
    for i in range(60):
        fpga.append((0x0100 + 4 * i, (0x9E3779B9 * (i + 1)) & 0xFFFF))
    for address, value in fpga:
        t.pair(address, value, "ui32FpgaAddr/ui32FpgaValue")
    t.end()

    t.block(1024, 768, "MANU_SENSOR_PARAM")
    t.decimal(4, 95, "ui32SensorInitCount")
    for i in range(95):
        t.pair(0x3000 + 2 * i, (0x2545F491 * (i + 7)) & 0xFFFF, "ui32SensorAddr/ui32SensorValue")
    t.text(768 - t.used, "0", "ui8Reserved[%d]" % (768 - t.used))
    t.end()
    return t.csv()


MODEL_TRAITS = {
    # width, height, colour, maximum frame rate (1/100 Hz), sensor id
    "ORV-2C": (1920, 1200, True, 16500, 0x0174),
    "ORV-2C-L": (1440, 1080, True, 22700, 0x0273),
    "ORV-2M": (1920, 1200, False, 16500, 0x0174),
    "ORV-2M-L": (1440, 1080, False, 22700, 0x0273),
}


def implemented_table(model):
    """Feature tables of one model: which features exist, their limits,
    scales, steps and power-up values; five 4096-byte blocks."""
    width, height, colour, rate, sensor = MODEL_TRAITS[model]
    features = [f for _, _, fs in CATEGORY_LIST for f in fs]
    t = Table(0x10000)

    t.block(4096, 4 * len(features) + 16, "IMPLEMENTED")
    t.text(16, model, "ui8Model[16]")
    for kind, name, _, _ in features:
        implemented = 1
        if not colour and name in ("BalanceRatioSelector", "BalanceRatio", "BalanceWhiteAuto"):
            implemented = 0
        t.value(4, implemented, "ui32%sImplemented" % name)
    t.end()

    limits = feature_limits(width, height, rate)
    t.block(4096, 16 + 8 * len(limits) + 8, "INFO")
    t.value(4, sensor, "ui32SensorId")
    t.decimal(4, width, "ui32SensorWidth")
    t.decimal(4, height, "ui32SensorHeight")
    t.value(4, 0x01080009 if colour else 0x01080001, "ui32DefaultPixelFormat")
    for name, (minimum, maximum, _, _, _) in limits:
        t.pair(minimum, maximum, "ui32%sMin/ui32%sMax" % (name, name))
    t.value(8, (0x0000003F if colour else 0x00000007), "ui64PixelFormatsSupported")
    t.end()

    t.block(4096, 4 * len(limits), "SCALE")
    for name, (_, _, scale, _, _) in limits:
        t.decimal(4, scale, "ui32%sScale" % name)
    t.end()

    t.block(4096, 4 * len(limits), "STEP")
    for name, (_, _, _, step, _) in limits:
        t.decimal(4, step, "ui32%sStep" % name)
    t.end()

    t.block(4096, 4 * len(limits) + 32, "CONTROL")
    for name, (_, _, _, _, default) in limits:
        t.decimal(4, default, "ui32%sDefault" % name)
    t.text(32, "%s defaults" % model, "ui8ControlLabel[32]")
    t.end()
    return t.csv()


def feature_limits(width, height, rate):
    # name: (minimum, maximum, scale, step, power-up value)
    return [
        ("Width", (16, width, 1, 16, width)),
        ("Height", (2, height, 1, 2, height)),
        ("OffsetX", (0, width - 16, 1, 16, 0)),
        ("OffsetY", (0, height - 2, 1, 2, 0)),
        ("ExposureTime", (28, 1000000, 1, 1, 10000)),
        ("Gain", (0, 2400, 100, 1, 0)),
        ("BlackLevel", (0, 255, 1, 1, 8)),
        ("Gamma", (10, 400, 100, 1, 100)),
        ("AcquisitionFrameRate", (10, rate, 100, 1, rate)),
        ("TriggerDelay", (0, 1000000, 1, 1, 0)),
        ("BalanceRatio", (0, 1599, 100, 1, 100)),
        ("LineDebouncerTime", (0, 5000, 1, 1, 10)),
        ("DeviceLinkThroughputLimit", (10, 400, 1, 1, 400)),
        ("AcquisitionFrameCount", (1, 65535, 1, 1, 1)),
    ]


CATEGORY_LIST = [
    ("DeviceControl", "", DEVICE_FEATURES),
    ("ImageFormatControl", "", IMAGE_FEATURES),
    ("AcquisitionControl", "", ACQUISITION_FEATURES),
    ("AnalogControl", "", ANALOG_FEATURES),
    ("DigitalIOControl", "", IO_FEATURES),
    ("UserSetControl", "", USERSET_FEATURES),
    ("TransportLayerControl", "", TRANSPORT_FEATURES),
]


def resource_list():
    out = ["# Embedded resources of the upgrade package: TYPE ID FILE (relative to this folder).",
           "# The Windows build turns the same list into its resource script (language 2052).",
           "# Written by package/tools/make_package_data.py.",
           "CONFIG       131  Config.ini",
           "RELEASE      %d  release.ini" % RELEASE_ID]
    for k, model in enumerate(MODELS):
        for i, (_, _, name) in enumerate(ITEMS):
            out.append("UPGRADEFILE  %d  %s" % (FIRST_ID + 11 * k + i, name.format(model=model)))
    return ("\n".join(out) + "\n").encode("ascii")


def main():
    write("Config.ini", config_ini())
    write("release.ini", release_ini())
    write("common/FPGA.bin", fpga_bitstream())
    write("common/Firmware.img", firmware_image())
    write("common/GenICam.zip", genicam_zip())
    write("common/MANU.csv", manu_table())
    write("common/MANIFEST.csv", manifest_table())
    write("common/ABRM.csv", abrm_table())
    write("common/EIRM.csv", eirm_table())
    write("common/SBRM.csv", sbrm_table())
    write("common/SIRM.csv", sirm_table())
    for model in MODELS:
        write("%s/IMPLEMENTED.csv" % model, implemented_table(model))
    write("resources.list", resource_list())


if __name__ == "__main__":
    main()
