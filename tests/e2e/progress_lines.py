"""Checks the progress lines the tool draws against their rules."""

import re

LINE = re.compile(rb"\rin progress: (\d+) : finished: (\d+)/(\d+) : (#*)([\\/|-]) (\d+)%")
SPINNER = b"\\-/|"


def check(testcase, text, total):
    """Asserts that `text` is nothing but well-formed progress lines for `total`
    archives: the first at 0, counts never going back, and the 100 % line twice
    at the end. Returns the parsed lines."""
    lines = []
    pos = 0
    while pos < len(text):
        m = LINE.match(text, pos)
        testcase.assertIsNotNone(m, f"unexpected output at {pos}: {text[pos:pos + 60]!r}")
        lines.append(m)
        pos = m.end()
    testcase.assertGreaterEqual(len(lines), total + 2)
    previous_done = 0
    for i, m in enumerate(lines):
        in_progress, done, shown_total, bar, spin, percent = m.groups()
        in_progress, done, shown_total, percent = int(in_progress), int(done), int(shown_total), int(percent)
        testcase.assertEqual(shown_total, total)
        testcase.assertGreaterEqual(done, previous_done)
        previous_done = done
        testcase.assertEqual(in_progress, min(4, total - done))
        testcase.assertEqual(len(bar), percent // 4)
        testcase.assertEqual(spin, SPINNER[i % 4:i % 4 + 1])
        if done == total:
            testcase.assertEqual(percent, 100)
        else:
            testcase.assertEqual(percent, done * 100 // total)
    testcase.assertEqual(int(lines[0].group(2)), 0)
    # The completing update draws the 100 % line twice, differing only in the spinner.
    testcase.assertEqual(lines[-1].group(2), str(total).encode())
    testcase.assertEqual(lines[-1].group(1, 2, 3, 4, 6), lines[-2].group(1, 2, 3, 4, 6))
    return lines
