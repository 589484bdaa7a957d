#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""varnic-cli's batches of any size, run as a script would: lists of inputs, mirrored trees, odd
names, JSON lines, and a batch interrupted and resumed.

usage: batch_test.py VARNIC_CLI TEST_DATA_DIR
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

CLI = DATA = None


def run(*args, cwd, stdin=None):
    return subprocess.run([CLI, *args], cwd=cwd, input=stdin, capture_output=True)


def tree(root):
    """Every file under root (names as bytes) with its contents."""
    out = {}
    for folder, _, names in os.walk(os.fsencode(root)):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, 'rb') as f:
                out[os.path.relpath(path, os.fsencode(root))] = f.read()
    return out


class BatchTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='varnic-batch-')
        pics = os.path.join(DATA, 'conformance', 'pics')
        self.small = os.path.join(pics, 'astronaut_64x48.bmp')
        self.grey = os.path.join(pics, 'camera_256x256_g.bmp')

    def tearDown(self):
        shutil.rmtree(self.dir)

    def place(self, name, source=None):
        path = os.path.join(os.fsencode(self.dir), os.fsencode(name))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(source or self.small, path)
        return path

    def test_same_names_in_different_folders_never_meet_with_r_and_d(self):
        for folder in ('2019/a', '2020/a', '2020/b'):
            self.place(folder + '/photo.bmp')
        self.place('2020/b/notes.txt')  # not a picture: -r leaves it
        os.makedirs(os.path.join(self.dir, 'flat'))
        flat = run('compress', '2019/a/photo.bmp', '2020/a/photo.bmp', '-d', 'flat', cwd=self.dir)
        self.assertEqual(flat.returncode, 1)  # refused before anything runs, as before
        r = run('compress', '-r', '2019', '2020', '-d', 'out/deep', cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(tree(os.path.join(self.dir, 'out'))),
                         [b'deep/2019/a/photo.cod', b'deep/2020/a/photo.cod', b'deep/2020/b/photo.cod'])
        back = run('decompress', '-r', 'out', '-d', 'back', '--format', 'png', cwd=self.dir)
        self.assertEqual(back.returncode, 0, back.stderr)
        self.assertEqual(len(tree(os.path.join(self.dir, 'back/out/deep'))), 3)

    def test_a_list_of_100000_names_by_lines_and_by_nul(self):
        real = [self.place('real/%d.bmp' % k) for k in range(3)]
        for separator, flags, count in (('\n', [], 100000), ('\0', ['-0'], 1000)):
            names = ['missing/%06d.bmp' % k for k in range(count - len(real))] + [os.fsdecode(p) for p in real]
            listing = os.path.join(self.dir, 'list')
            with open(listing, 'w') as f:
                f.write(separator.join(names) + separator)
            out = os.path.join(self.dir, 'out')
            os.makedirs(out, exist_ok=True)
            r = run('compress', '--files-from', listing, *flags, '-d', out, '-f', '--json', cwd=self.dir)
            self.assertEqual(r.returncode, 2)
            self.assertIn(b'3 written, %d failed' % (count - 3), r.stderr)
            records = [json.loads(line) for line in r.stdout.splitlines()]
            self.assertEqual(sorted(rec['input'] for rec in records), sorted(names))
            self.assertEqual(sorted(os.listdir(out)), ['0.cod', '1.cod', '2.cod'])
        piped = run('compress', '--files-from', '-', '-0', '-d', out, '-f', '--quiet', cwd=self.dir,
                    stdin=b'\0'.join(real))
        self.assertEqual(piped.returncode, 0, piped.stderr)

    def test_odd_names_work_and_json_gives_back_their_bytes(self):
        odd = [b'with space.bmp', b'new\nline.bmp', b'latin\xe9 \xff.bmp', b'esc\x1b[31m.bmp', b'-dash.bmp']
        paths = [self.place(b'in/' + name) for name in odd]
        listing = os.path.join(self.dir, 'list0')
        with open(listing, 'wb') as f:
            f.write(b''.join(p + b'\0' for p in paths))
        r = run('compress', '--files-from', listing, '-0', '-r', '-d', 'out', '--json', cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn(b'\x1b', r.stderr + r.stdout)  # nothing reaches a terminal raw
        records = [json.loads(line) for line in r.stdout.decode('utf-8').splitlines()]
        self.assertEqual(sorted(os.fsencode(rec['input']) for rec in records), sorted(paths))
        for rec in records:
            self.assertTrue(os.path.exists(os.path.join(os.fsencode(self.dir), os.fsencode(rec['output']))))

    def test_json_lines_match_what_was_written(self):
        self.place('a.bmp')
        self.place('g.bmp', self.grey)
        with open(os.path.join(self.dir, 'bad.bmp'), 'wb') as f:
            f.write(b'BM\1\2\3')
        os.makedirs(os.path.join(self.dir, 'out'))
        self.place('out/g.cod')  # left alone by --skip-existing
        r = run('compress', 'a.bmp', 'bad.bmp', 'g.bmp', '-d', 'out', '--skip-existing', '--json-file', 'r.jsonl',
                '--json', '-j', '2', cwd=self.dir)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b'[1/3] a.bmp -> ', r.stdout)  # the summaries stay on stdout with --json-file
        with open(os.path.join(self.dir, 'r.jsonl')) as f:
            records = {rec['input']: rec for rec in map(json.loads, f)}
        a, bad, g = records['a.bmp'], records['bad.bmp'], records['g.bmp']
        self.assertEqual((a['status'], a['exit'], a['message'], a['width'], a['height']), ('written', 0, '', 64, 48))
        self.assertEqual(a['input_bytes'], os.path.getsize(self.small))
        self.assertEqual(a['output_bytes'], os.path.getsize(os.path.join(self.dir, a['output'])))
        self.assertGreater(a['seconds'], 0)
        self.assertEqual((bad['status'], bad['exit'], bad['output_bytes']), ('failed', 2, 0))
        self.assertIn(bad['message'].encode(), r.stderr)
        self.assertEqual((g['status'], g['exit']), ('skipped', 0))

    def test_an_interrupted_batch_resumed_with_skip_existing_equals_an_uninterrupted_one(self):
        # 160 small pictures that differ, so that every output is distinct.
        with open(self.small, 'rb') as f:
            bmp = bytearray(f.read())
        for k in range(160):
            bmp[100 + k] ^= 0x55
            with open(os.path.join(self.dir, 'p%03d.bmp' % k), 'wb') as f:
                f.write(bmp)
        names = sorted(n for n in os.listdir(self.dir) if n.endswith('.bmp'))
        os.makedirs(os.path.join(self.dir, 'whole'))
        whole = run('compress', *names, '-d', 'whole', '-j', '2', '--quiet', cwd=self.dir)
        self.assertEqual(whole.returncode, 0, whole.stderr)
        os.makedirs(os.path.join(self.dir, 'part'))
        child = subprocess.Popen([CLI, 'compress', *names, '-d', 'part', '-j', '2', '--quiet'], cwd=self.dir,
                                 stderr=subprocess.PIPE)
        deadline = time.time() + 60
        while len(os.listdir(os.path.join(self.dir, 'part'))) < 20 and time.time() < deadline:
            time.sleep(0.005)
        child.send_signal(signal.SIGTERM)
        _, err = child.communicate()
        done = tree(os.path.join(self.dir, 'part'))
        self.assertIn(child.returncode, (-signal.SIGTERM, 128 + signal.SIGTERM, 0), err)
        self.assertLess(len(done), len(names), 'the batch ended before it was interrupted')
        resumed = run('compress', *names, '-d', 'part', '-j', '2', '--skip-existing', cwd=self.dir)
        self.assertEqual(resumed.returncode, 0, resumed.stderr)
        self.assertIn(b'%d skipped' % len(done), resumed.stderr)
        self.assertEqual(tree(os.path.join(self.dir, 'part')), tree(os.path.join(self.dir, 'whole')))


if __name__ == '__main__':
    CLI, DATA = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1])
