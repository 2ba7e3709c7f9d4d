#!/usr/bin/env python3
"""Structure report for a C++ source tree: the longest functions, the largest files, and include
cycles between folders. Exit status 1 when a limit is exceeded."""
import argparse, os, re, sys
from collections import defaultdict

def strip(text):
    # Blank out comments, preprocessor lines, string and character literals, keeping line breaks.
    text = re.sub(r'^[ \t]*#(?:[^\n]*\\\n)*[^\n]*', lambda m: re.sub(r'[^\n]', ' ', m.group(0)), text, flags=re.M)
    out = []; i = 0; n = len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i); j = n if j < 0 else j
            out.append(' ' * (j - i)); i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2); j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j])); i = j
        elif text.startswith('R"', i) and (i == 0 or not (text[i-1].isalnum() or text[i-1] == '_')):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if m:
                end = text.find(')' + m.group(1) + '"', i)
                j = n if end < 0 else end + len(m.group(1)) + 2
                out.append(re.sub(r'[^\n]', ' ', text[i:j])); i = j
            else:
                out.append(c); i += 1
        elif c in '"\'':
            if c == "'" and i > 0 and text[i-1].isalnum():  # digit separator 1'000
                out.append(' '); i += 1; continue
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (min(j, n) - i - 1) + c); i = j + 1
        else:
            out.append(c); i += 1
    return ''.join(out)

SCOPE_RE = re.compile(r'\b(namespace|class|struct|union|enum)\b[^;(]*$|extern\s*"C"\s*$|^\s*$')

def functions(path):
    text = strip(open(path, encoding='utf-8', errors='replace').read())
    stack = []  # (kind, start_line, name)
    head_start = 0
    results = []
    line = 1
    for i, c in enumerate(text):
        if c == '\n':
            line += 1
        elif c == '{':
            head = text[head_start:i]
            in_func = any(k == 'func' for k, _, _ in stack)
            if in_func:
                stack.append(('block', line, ''))
            else:
                h = ' '.join(head.split())
                if ')' in h and not re.match(r'^(namespace|class|struct|union|enum)\b', h) and '=' not in h.split('(')[0]:
                    m = re.search(r'([~\w:<>]+)\s*\(', h)
                    stack.append(('func', line, m.group(1) if m else h[:40]))
                else:
                    stack.append(('scope', line, ''))
            head_start = i + 1
        elif c == '}':
            if stack:
                kind, start, name = stack.pop()
                if kind == 'func':
                    results.append((line - start + 1, name, start))
            head_start = i + 1
        elif c == ';':
            head_start = i + 1
    return results

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('root')
    ap.add_argument('--max-function', type=int, default=120)
    ap.add_argument('--max-file', type=int, default=800)
    ap.add_argument('--top', type=int, default=10)
    a = ap.parse_args()
    files = []
    for d, _, fs in os.walk(a.root):
        for f in fs:
            if f.endswith(('.cpp', '.h')):
                files.append(os.path.join(d, f))
    funcs = []; sizes = []
    incl = defaultdict(set)
    for p in files:
        rel = os.path.relpath(p, a.root)
        n = sum(1 for _ in open(p, encoding='utf-8', errors='replace'))
        sizes.append((n, rel))
        for length, name, start in functions(p):
            funcs.append((length, f'{rel}:{start} {name}'))
        folder = os.path.dirname(rel)
        for m in re.finditer(r'^\s*#\s*include\s+"([^"]+)"', open(p, encoding='utf-8', errors='replace').read(), re.M):
            target = os.path.dirname(m.group(1))
            if target and target != folder:
                incl[folder].add(target)
    funcs.sort(reverse=True); sizes.sort(reverse=True)
    print('longest functions:'); [print(f'  {l:5d} {w}') for l, w in funcs[:a.top]]
    print('largest files:'); [print(f'  {l:5d} {w}') for l, w in sizes[:a.top]]
    # Cycles between folders (strongly connected components of size > 1).
    index = {}; low = {}; st = []; on = set(); sccs = []; counter = [0]
    def visit(v):
        index[v] = low[v] = counter[0]; counter[0] += 1; st.append(v); on.add(v)
        for w in incl.get(v, ()):
            if w not in index:
                visit(w); low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = st.pop(); on.discard(w); comp.append(w)
                if w == v: break
            if len(comp) > 1: sccs.append(sorted(comp))
    sys.setrecursionlimit(10000)
    for v in list(incl):
        if v not in index: visit(v)
    print('folder include cycles:', sccs if sccs else 'none')
    bad = [f for f in funcs if f[0] > a.max_function] + [s for s in sizes if s[0] > a.max_file]
    if bad or sccs:
        print('over the limits:'); [print(f'  {l:5d} {w}') for l, w in bad]
        return 1
    return 0

sys.exit(main())
