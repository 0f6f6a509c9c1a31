#!/usr/bin/env python3
"""Checks the include rule of the source tree.

Layers, lowest first: base; the kernels (imageio, hdr, align, tonemap, postprocess, color, presets);
project; batch; app; ui. A file may include headers of its own folder and of lower layers only;
kernels do not include each other (each builds on base alone), and nothing below ui includes a
widget header. src/app/main.cpp is the executable's entry and sits above everything.

Exit status 0 when the tree keeps the rule, 1 with one line per offending include otherwise.
Usage: tools/check_layers.py [source folder, default: src next to this script's folder]
"""
import os
import re
import sys

RANK = {'base': 0, 'imageio': 1, 'hdr': 1, 'align': 1, 'tonemap': 1, 'postprocess': 1, 'color': 1,
        'presets': 1, 'project': 2, 'batch': 3, 'app': 4, 'ui': 5}
WIDGET_HEADERS = re.compile(r'^\s*#\s*include\s*<(QtWidgets/|Q(Widget|Dialog|MainWindow|Application|Label|'
                            r'PushButton|MessageBox|Menu|MenuBar|Action|ComboBox|CheckBox|SpinBox|Slider|'
                            r'LineEdit|TabWidget|ScrollArea|Splitter|ProgressBar|ListWidget|TextEdit|'
                            r'FileDialog|Layout|[HV]BoxLayout|GridLayout|FormLayout|GroupBox|ToolButton|'
                            r'RadioButton|ButtonGroup|Style|ProxyStyle|StyleFactory|Frame|SizeGrip|'
                            r'SplashScreen|AbstractScrollArea|Scroll[A-Za-z]*)\b)')
INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z]+)/[^"]+"')


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src')
    problems = []
    for folder in sorted(os.listdir(root)):
        if folder not in RANK:
            continue
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith(('.cpp', '.h')):
                    continue
                path = os.path.join(dirpath, name)
                if folder == 'app' and name == 'main.cpp':
                    continue  # the executable's entry
                with open(path, errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        where = '%s:%d' % (os.path.relpath(path, os.path.join(root, '..')), number)
                        m = INCLUDE.match(line)
                        if m and m.group(1) in RANK and m.group(1) != folder:
                            target = m.group(1)
                            if RANK[target] > RANK[folder]:
                                problems.append('%s includes upward: %s' % (where, line.strip()))
                            elif RANK[target] == RANK[folder]:
                                problems.append('%s includes a kernel beside it: %s' % (where, line.strip()))
                        if folder != 'ui' and WIDGET_HEADERS.match(line):
                            problems.append('%s includes a widget header below the user interface: %s'
                                            % (where, line.strip()))
    for p in problems:
        print(p)
    if problems:
        print('%d includes break the layer rule' % len(problems))
        return 1
    print('layers: every include points down')
    return 0


if __name__ == '__main__':
    sys.exit(main())
