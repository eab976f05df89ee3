#!/usr/bin/python3
"""Prints "passed failed skipped" for one ctest --output-junit file.

ctest marks each test case with status="run" (passed), "fail", "notrun" (a skip: its
SKIP_RETURN_CODE, a missing executable or a failed requirement) or "disabled".
"""
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status", "")
    if status == "run":
        passed += 1
    elif status in ("notrun", "disabled"):
        skipped += 1
    else:
        failed += 1
print(passed, failed, skipped)
