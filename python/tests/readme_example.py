"""Prints the first ```python block of docs/python.md, the lines that the
page promises run as written from the project root. Usage:
readme_example.py docs/python.md"""
import sys


def readme_example(page):
    lines = open(page, encoding="utf-8").read().split("\n")
    begin = lines.index("```python") + 1
    return "\n".join(lines[begin:lines.index("```", begin)]) + "\n"


if __name__ == "__main__":
    sys.stdout.write(readme_example(sys.argv[1]))
