#!/usr/bin/python3
"""Checks the veltrona.kova collection without a network: every Python file
compiles; ansible-doc reads each module's documentation, whose options (names,
types, choices, defaults, required, suboptions) are those of the module's
declared arguments, with no_log on every password and check mode as the module
declares it; the options of every example task are documented ones; the
README shows the example files as they are; the collection's unit tests
(tests/unit, the module utilities' pure parts) pass; and galaxy.yml and the
changelog name the project's version (optional second argument).
Arguments: the collection's folder, the project's version."""
import glob, importlib.util, json, os, subprocess, sys, unittest
import yaml

sys.dont_write_bytecode = True  # nothing written into the source tree

collection = os.path.abspath(sys.argv[1])
ansible_doc = '/usr/bin/ansible-doc'
if not os.access(ansible_doc, os.X_OK):
    print('SKIP: %s missing (scripts/install-deps installs ansible-core)' % ansible_doc)
    sys.exit(77)
failures = []
check = lambda ok, what: ok or failures.append(what)

for path in glob.glob(os.path.join(collection, '**/*.py'), recursive=True):
    try:
        with open(path) as f:
            compile(f.read(), path, 'exec')
    except SyntaxError as error:
        check(False, 'compile: %s' % error)

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.dirname(collection))))
units = unittest.TestSuite()
for path in sorted(glob.glob(os.path.join(collection, 'tests/unit/**/test_*.py'), recursive=True)):
    name = os.path.relpath(path[:-3], sys.path[0]).replace(os.sep, '.')
    units.addTests(unittest.defaultTestLoader.loadTestsFromName(name))
outcome = unittest.TextTestRunner(verbosity=1).run(units)
check(outcome.wasSuccessful() and outcome.testsRun > 0,
      'unit tests: %d run, %d failed' % (outcome.testsRun, len(outcome.failures) + len(outcome.errors)))

# The declared arguments that a module hands to AnsibleModule, caught before it runs.
import ansible.module_utils.basic as basic


class Caught(Exception):
    pass


class SpecCatcher:
    def __init__(self, argument_spec, supports_check_mode=False, **_):
        raise Caught(argument_spec, supports_check_mode)


basic.AnsibleModule = SpecCatcher


def argument_spec(path):
    found = importlib.util.spec_from_file_location('module_under_check', path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    try:
        module.main()
    except Caught as caught:
        return caught.args
    raise AssertionError('%s: main() made no AnsibleModule' % path)


def compare(where, documented, specified):
    check(sorted(documented) == sorted(specified),
          '%s: documented options %s, declared arguments %s' % (where, sorted(documented), sorted(specified)))
    for name in set(documented) & set(specified):
        doc, arg = documented[name], specified[name]
        here = '%s.%s' % (where, name)
        for key, fallback in (('type', 'str'), ('choices', None), ('default', None),
                              ('required', False), ('elements', None)):
            check(doc.get(key, fallback) == arg.get(key, fallback),
                  '%s: %s documented %r, specified %r' % (here, key, doc.get(key, fallback),
                                                        arg.get(key, fallback)))
        if 'password' in name and name != 'update_password':
            check(arg.get('no_log') is True, '%s: no no_log' % here)
        compare(here, doc.get('suboptions', {}), arg.get('options', {}))


def example_tasks(text):
    for entry in yaml.safe_load(text) or []:
        yield from entry.get('tasks', [entry])


def check_example_options(where, task, docs):
    for key, options in task.items():
        if key.startswith('veltrona.kova.'):
            check(key in docs, '%s: unknown module %s' % (where, key))
            documented = docs.get(key, {}).get('options', {})
            for name, value in (options or {}).items():
                check(name in documented, '%s: %s has no option %s' % (where, key, name))
                entries = value if isinstance(value, list) else [value]
                for entry in (e for e in entries if isinstance(e, dict) and name in documented):
                    for sub in entry:
                        check(sub in documented[name].get('suboptions', {}),
                              '%s: %s has no option %s.%s' % (where, key, name, sub))


modules = sorted(glob.glob(os.path.join(collection, 'plugins/modules/*.py')))
check(len(modules) == 3, 'three modules, found %s' % modules)
environment = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=sys.path[0], PYTHONDONTWRITEBYTECODE='1')
docs = {}
for path in modules:
    name = 'veltrona.kova.' + os.path.basename(path)[:-3]
    run = subprocess.run([ansible_doc, '--json', '-t', 'module', name], env=environment,
                         capture_output=True, text=True)
    check(run.returncode == 0 and not run.stderr.strip(),
          'ansible-doc %s: exit %d %s' % (name, run.returncode, run.stderr))
    if run.returncode != 0:
        continue
    shown = json.loads(run.stdout)[name]
    doc = shown['doc']
    docs[name] = doc
    check(doc.get('short_description') and doc.get('description'), '%s: no description' % name)
    check(shown.get('return'), '%s: no RETURN' % name)
    declared, check_mode = argument_spec(path)
    compare(name, doc.get('options', {}), declared)
    declared = doc.get('attributes', {}).get('check_mode', {}).get('support')
    check(declared == ('full' if check_mode else 'none'),
          '%s: check mode documented %s, supported %s' % (name, declared, check_mode))
    docs[name]['examples'] = shown['examples']

for name, doc in docs.items():
    for task in example_tasks(doc['examples']):
        check_example_options(name + ' EXAMPLES', task, docs)
readme = open(os.path.join(collection, 'README.md')).read()
for path in glob.glob(os.path.join(collection, 'examples/*.yml')):
    text = open(path).read()
    if 'tasks' in text:
        for task in example_tasks(text):
            check_example_options(os.path.basename(path), task, docs)
    # The README shows each example file as it is, its opening comments aside.
    body = ''.join(l for l in text.splitlines(True) if not l.startswith('#'))
    check(body in readme, 'README.md shows examples/%s as it is' % os.path.basename(path))

# The collection has the project's version, and this release's changelog entries.
version = sys.argv[2] if len(sys.argv) > 2 else None
galaxy = yaml.safe_load(open(os.path.join(collection, 'galaxy.yml')))
check(version is None or galaxy['version'] == version,
      'galaxy.yml: version %s, the project %s' % (galaxy['version'], version))
check(galaxy.get('license') == ['GPL-3.0-or-later'], 'galaxy.yml: licence %s' % galaxy.get('license'))
changelog = yaml.safe_load(open(os.path.join(collection, 'changelogs/changelog.yaml')))
release = changelog.get('releases', {}).get(galaxy['version'], {})
check(release.get('release_date') and release.get('changes', {}).get('release_summary'),
      'changelogs/changelog.yaml: no release date or summary for %s' % galaxy['version'])
added = set(m['name'] for r in changelog['releases'].values() for m in r.get('modules', []))
check(added == set(os.path.basename(m)[:-3] for m in modules),
      'changelogs/changelog.yaml: modules added %s' % sorted(added))

for failure in failures:
    print('FAIL:', failure)
print('%d modules checked, %d failures' % (len(docs), len(failures)))
sys.exit(1 if failures else 0)
