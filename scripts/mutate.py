#!/usr/bin/env python3
"""Applies each mutation of scripts/mutations.json to the application code in turn (one small
change of a behaviour users rely on), builds, runs the tests named for it through CTest, puts the
code back, and reports which mutations no test caught. Needs a configured build folder.

    python3 scripts/mutate.py [--build DIR] [--only N,M,...]
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(command, cwd, timeout):
    try:
        return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def targets(build, tests):
    # Only what the named tests need: each test is built by the target of its name.
    listed = subprocess.run(['ctest', '-N', '-R', tests], cwd=build, capture_output=True, text=True).stdout
    names = re.findall(r'^\s*Test\s+#\d+: (\S+)', listed, re.M)
    # Tests that run a tool (promtool) have nothing to build.
    built = subprocess.run(['ninja', '-t', 'targets', 'all'], cwd=build, capture_output=True, text=True).stdout
    return [name for name in names if not name.startswith(('headless_env', 'fuzz_'))
            and re.search(rf'^{re.escape(name)}: ', built, re.M)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', default=os.path.join(top, 'build'))
    parser.add_argument('--only', default='')
    args = parser.parse_args()
    mutations = json.load(open(os.path.join(top, 'scripts', 'mutations.json'), encoding='utf-8'))
    chosen = {int(n) for n in args.only.split(',') if n} or set(range(1, len(mutations) + 1))
    if run(['ninja'], args.build, 1800) != 0:
        sys.exit('the unchanged tree does not build')
    results = []
    for number, mutation in enumerate(mutations, 1):
        if number not in chosen:
            continue
        path = os.path.join(top, mutation['file'])
        original = open(path, encoding='utf-8').read()
        if original.count(mutation['from']) != 1:
            results.append((number, 'stale', mutation['what']))
            print(f'{number:3} stale    {mutation["what"]} (the text to change is not there once)', flush=True)
            continue
        started = time.time()
        try:
            open(path, 'w', encoding='utf-8').write(original.replace(mutation['from'], mutation['to']))
            if run(['ninja'] + targets(args.build, mutation['tests']), args.build, 1800) != 0:
                outcome = 'no build'  # a mutation that does not compile tells nothing of the tests
            else:
                tests = mutation['tests']
                failed = run(['ctest', '-R', f'headless_env|{tests}', '--timeout', '300'], args.build, 1500)
                outcome = 'killed' if failed != 0 else 'SURVIVED'
        finally:
            open(path, 'w', encoding='utf-8').write(original)
        results.append((number, outcome, mutation['what']))
        print(f'{number:3} {outcome:8} {mutation["what"]} ({time.time() - started:.0f} s)', flush=True)
    run(['ninja'], args.build, 1800)
    valid = [r for r in results if r[1] in ('killed', 'SURVIVED')]
    killed = sum(1 for r in valid if r[1] == 'killed')
    print(f'\n{killed} of {len(valid)} mutations caught ({100.0 * killed / max(1, len(valid)):.0f} %)')
    for number, outcome, what in results:
        if outcome != 'killed':
            print(f'  {outcome}: {number} {what}')
    sys.exit(0 if killed == len(valid) and len(valid) == len(results) else 1)


if __name__ == '__main__':
    main()
