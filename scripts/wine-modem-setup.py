#!/usr/bin/env python3
"""Turns a halvex-sim scenario into the files of the same laptop under Wine.

Usage: wine-modem-setup.py SCENARIO SYSTEM_VERSION OUTDIR

SYSTEM_VERSION is the SMBIOS system version Wine serves (empty on a machine
without firmware tables): it becomes the laptop's version and the name of every
project of the scenario's configuration that has an empty name, so that the
service picks the same entry in both runs. Writes into OUTDIR:
  scenario.xml          the scenario with that version, for halvex-sim
  DPRConfig.xml         the configuration, beside the service's executable
  sim-modem.ini         the simulated modem's settings (interface, state,
                        answer time, reboot timing)
  sim-modem-table.txt   the modem's starting SAR table
  matching-table.txt    a table that already holds every row of the entry
  interface.txt         the modem's interface id
  instance.txt          the device instance id of its network class subkey
Exits 2 with the reason when the scenario lacks what the check needs.
"""
import os
import sys
import xml.etree.ElementTree as ET

DEFAULT_INTERFACE = "{3F2A6C1E-8B4D-4E7A-9D15-6C0B2E9A7F41}"
BANDED = ("LTE", "WCDMA")


def fail(message):
    print(f"wine-modem-setup: {message}", file=sys.stderr)
    sys.exit(2)


def table_line(row):
    band = row.get("band", "0") if row.get("mode") in BANDED else "0"
    values = [row.get(name) for name in ("maxpower", "rowgrads", "columngrads")]
    if None in values:
        fail(f"a row lacks a value: {ET.tostring(row, encoding='unicode').strip()}")
    return " ".join([row.get("mode"), band] + values)


def write(folder, name, text, newline="\r\n"):
    with open(os.path.join(folder, name), "w", encoding="utf-8", newline=newline) as file:
        file.write(text)


def main():
    if len(sys.argv) != 4:
        fail("usage: wine-modem-setup.py SCENARIO SYSTEM_VERSION OUTDIR")
    scenario_path, version, folder = sys.argv[1:]
    tree = ET.parse(scenario_path)
    root = tree.getroot()
    laptop = root.find("laptop")
    config = root.find("dprconfig/config")
    modem = root.find("modem")
    if laptop is None or config is None or modem is None:
        fail(f"{scenario_path} needs <laptop>, an inline <dprconfig><config> and <modem>")

    laptop.set("version", version)
    for project in config.iter("project"):
        if project.get("name", "") == "":
            project.set("name", version)
    tree.write(os.path.join(folder, "scenario.xml"), encoding="utf-8", xml_declaration=True)
    config.tail = None
    write(folder, "DPRConfig.xml",
          '<?xml version="1.0" encoding="utf-8"?>\n' + ET.tostring(config, encoding="unicode") + "\n", "\n")

    interface = modem.get("interface", DEFAULT_INTERFACE)
    away = modem.get("away-ms", "2000")
    settings = [
        f"interface={interface}",
        f"state={modem.get('state', 'up')}",
        f"latency-ms={modem.get('latency-ms', '0')}",
        f"away-ms={away}",
    ]
    write(folder, "sim-modem.ini", "\r\n".join(settings) + "\r\n")
    write(folder, "sim-modem-table.txt", "".join(table_line(row) + "\r\n" for row in modem.findall("sar")))

    modules = list(config.iter("module"))
    if len(modules) != 1:
        fail(f"{scenario_path}: the check needs a configuration of exactly one module, found {len(modules)}")
    write(folder, "matching-table.txt", "".join(table_line(row) + "\r\n" for row in modules[0].findall("dpr")))
    write(folder, "interface.txt", interface, "\n")
    vid, pid = modem.get("vid", "4B6E"), modem.get("pid", "0E82")
    write(folder, "instance.txt", f"USB\\VID_{vid}&PID_{pid}&MI_0C\\7&1A2B3C4D&0&000C", "\n")


if __name__ == "__main__":
    main()
