#!/usr/bin/env python3
"""Summarises a tour of the check mode: what the simulated board saw (from its
transcript) and what the IOC/FPGA page said (read off the screenshots).

    tour-report.py OUTDIR

OUTDIR holds the board's facts (facts.txt, from `boardsim-ctl facts`) and its
transcript (transcript.jsonl).
"""
import json
import pathlib
import subprocess
import sys
import tempfile

# The IOC/FPGA page's column of labels, in screen pixels (x, y, w, h).
LABEL_COLUMN = (40, 80, 381, 241)


def load_transcript(path):
    rows = []
    for line in path.read_text().splitlines():
        line = line.strip()
        if line:
            rows.append(json.loads(line))
    return rows


def load_facts(path):
    """The board's facts, NAME=VALUE a line."""
    return dict(line.split("=", 1) for line in path.read_text().splitlines() if "=" in line)


def writes_to(rows, path):
    return [r.get("bytes", "") for r in rows if r.get("op") == "write" and r.get("path") == path]


def read_labels(png):
    """OCR of the page's label column; returns its lines, or None without OCR."""
    if not png.exists():
        return None
    x, y, w, h = LABEL_COLUMN
    with tempfile.TemporaryDirectory() as tmp:
        crop = pathlib.Path(tmp) / "labels.png"
        try:
            subprocess.run(["convert", str(png), "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                            "-scale", "300%", "-colorspace", "Gray", str(crop)], check=True)
            text = subprocess.run(["tesseract", str(crop), "-", "--psm", "6"], check=True,
                                  capture_output=True, text=True).stdout
        except (OSError, subprocess.CalledProcessError):
            return None
    return [" ".join(line.split()) for line in text.splitlines() if line.strip()]


def verdict(lines, check, success):
    """The verdict line of one check, named by its exact on-screen text."""
    if lines is None:
        return "(not read: no OCR)"
    for line in lines:
        # OCR confuses a capital I with a small l.
        squeezed = line.replace(" ", "").lower().replace("loc", "ioc")
        if squeezed.startswith(f"{check}check".lower()) and squeezed != f"{check}check".lower():
            said = f"{check} Check FAIL!" if "fail" in squeezed else success
            return f'{said} (read as "{line}")'
    return "(none shown)"


def main():
    out = pathlib.Path(sys.argv[1])
    fact = load_facts(out / "facts.txt")
    rows = load_transcript(out / "transcript.jsonl")

    def line_writes(role):
        return writes_to(rows, f"{fact['gpio_dir']}/gpio{fact[role]}/value")

    lamp = line_writes("danger_lamp_line")
    test_line = line_writes("danger_test_line")
    beeps = line_writes("beep_line")
    alarm = line_writes("alarm_sound_line")
    exports = writes_to(rows, f"{fact['gpio_dir']}/export")
    tools = [" ".join([r["path"]] + r.get("args", [])) for r in rows if r.get("op") == "exec"]
    ioc_lines = read_labels(out / "14-ioc-fpga-verdicts.png")
    shots = sorted(p.name for p in out.glob("*.png"))

    def states(values):
        return ", ".join({"1": "on", "0": "off"}.get(v, repr(v)) for v in values) or "never written"

    print("Tour of the check mode on the simulated board")
    print(f"  GPIO start-up: {len(exports)} exports ({', '.join(exports)}), alarm sound {states(alarm)}")
    print(f"  danger lamp (line {fact['danger_lamp_line']}): {states(lamp)}")
    print(f"  danger test line (line {fact['danger_test_line']}): {states(test_line)}")
    print(f"  beep writes (line {fact['beep_line']}): {len(beeps)}")
    print(f"  board tools called: {'; '.join(tools) or 'none'}")
    print(f"  FPGA verdict: {verdict(ioc_lines, 'FPGA', 'FPGA Check Success!')}")
    print(f"  IOC verdict: {verdict(ioc_lines, 'IOC', 'IOC Check Suceccs!')}")
    print(f"  screenshots ({len(shots)}): {out}")
    for name in shots:
        print(f"    {name}")
    print(f"  debug log: {out / 'checkmode.log'}")


if __name__ == "__main__":
    main()
