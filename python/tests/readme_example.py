"""Prints the first ```python block of README.md's "## Python" section, the
lines that the README promises run as written. Usage: readme_example.py README.md"""
import sys


def readme_example(readme):
    lines = open(readme, encoding="utf-8").read().split("\n")
    start = lines.index("## Python")
    begin = lines.index("```python", start) + 1
    return "\n".join(lines[begin:lines.index("```", begin)]) + "\n"


if __name__ == "__main__":
    sys.stdout.write(readme_example(sys.argv[1]))
