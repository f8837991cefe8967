#!/usr/bin/python3
# Accuracy of tarnel-cli mesh --auto on real photographs with known warps:
# each photo is cropped to W x H, warped by a random rotation (up to 8
# degrees), scale (0.9..1.12), slight perspective, shift and smooth waves
# (3..8 px), and the placed inner points of a 12 x 16 mesh are compared with
# the true positions (points whose true position leaves the picture are not
# counted). Needs python3-opencv and numpy (Debian packages).
#   bench/compare_align.py build/tarnel-cli 1280 800 PHOTO...
import cv2, numpy as np, json, subprocess, sys, time, os, random
CLI = sys.argv[1]
W, H = int(sys.argv[2]), int(sys.argv[3])
rows, cols = 12, 16
photos = sys.argv[4:]
rng = random.Random(7)
def src_of(p, w):  # end -> start position
    x, y = p[...,0], p[...,1]
    cx, cy = W/2, H/2
    u = (x - cx - w['sx'])/cx; v = (y - cy - w['sy'])/cy
    ww = 1 + w['tx']*u + w['ty']*v
    a = -np.deg2rad(w['deg'])
    px = u*cx/ww/w['s']; py = v*cy/ww/w['s']
    X = cx + np.cos(a)*px - np.sin(a)*py
    Y = cy + np.sin(a)*px + np.cos(a)*py
    k = 2*np.pi/w['L']
    X = X + w['A']*np.sin(k*y + 0.7); Y = Y + w['A']*np.sin(k*x + 1.9)
    return np.stack([X, Y], -1)
def target(p, w):
    e = p.copy()
    for _ in range(60):
        s = src_of(e, w); f = s - p
        h = 0.5
        sx = src_of(e + [h, 0], w); sy = src_of(e + [0, h], w)
        a = (sx[...,0]-s[...,0])/h; b = (sy[...,0]-s[...,0])/h; c = (sx[...,1]-s[...,1])/h; d = (sy[...,1]-s[...,1])/h
        det = a*d - b*c
        e = e - np.stack([(d*f[...,0]-b*f[...,1])/det, (-c*f[...,0]+a*f[...,1])/det], -1)
    return e
allerr = []
import tempfile
tmp = tempfile.mkdtemp(prefix='tarnel-align-')
for n, ph in enumerate(photos):
    img = cv2.imread(ph)
    # crop a region with the aspect W:H and resize to W x H
    ih, iw = img.shape[:2]
    sc = min(iw/W, ih/H)
    cw, ch = int(W*sc), int(H*sc)
    img = cv2.resize(img[(ih-ch)//2:(ih-ch)//2+ch, (iw-cw)//2:(iw-cw)//2+cw], (W, H), interpolation=cv2.INTER_AREA)
    w = dict(deg=rng.uniform(-8, 8), s=rng.uniform(0.9, 1.12), tx=rng.uniform(-0.04, 0.04), ty=rng.uniform(-0.04, 0.04),
             A=rng.uniform(3, 8), L=rng.uniform(250, 600), sx=rng.uniform(-20, 20), sy=rng.uniform(-20, 20))
    ys, xs = np.mgrid[0:H, 0:W].astype(np.float32)
    m = src_of(np.stack([xs, ys], -1), w).astype(np.float32)
    end = cv2.remap(img, m[...,0], m[...,1], cv2.INTER_LINEAR, borderMode=cv2.BORDER_REPLICATE)
    cv2.imwrite(f'{tmp}/s{n}.bmp', img); cv2.imwrite(f'{tmp}/e{n}.bmp', end)
    t = time.time()
    r = subprocess.run([CLI, 'mesh', f'{tmp}/s{n}.bmp', f'{tmp}/e{n}.bmp', '--rows', str(rows), '--columns', str(cols), '--auto', '--out', f'{tmp}/m{n}.json'], capture_output=True, text=True)
    dt = time.time() - t
    if r.returncode != 0:
        print(os.path.basename(ph), 'FAILED', r.stderr.strip()); continue
    mj = json.load(open(f'{tmp}/m{n}.json'))
    st = np.array(mj['start'], float); en = np.array(mj['end'], float)
    ci = rows + 2
    idx = [j*ci + i for j in range(2, cols+1) for i in range(2, rows+1)]
    truth = target(st[idx], w)
    inside = (truth[:,0] > 2) & (truth[:,0] < W-3) & (truth[:,1] > 2) & (truth[:,1] < H-3)
    err = np.hypot(*(en[idx] - truth).T)[inside]
    unal = np.hypot(*(st[idx] - truth).T)[inside]
    allerr += list(err)
    if os.environ.get('WORST'):
        ii = np.array(idx)[inside]; e2 = err
        for q in np.argsort(-e2)[:6]:
            k = ii[q]; print('   point i=%d j=%d err=%.1f start=%s truth=%s got=%s' % (k % ci, k // ci, e2[q], st[k], truth[inside][q].round(1), en[k].round(1)))
    print(f'{os.path.basename(ph):24s} deg={w["deg"]:+.1f} s={w["s"]:.3f} A={w["A"]:.1f} unaligned={unal.mean():6.1f} mean={err.mean():.3f} p90={np.percentile(err,90):.3f} max={err.max():.2f} t={dt:.2f}s')
allerr = np.array(allerr)
print(f'ALL mean={allerr.mean():.3f} p90={np.percentile(allerr,90):.3f}')
import shutil
shutil.rmtree(tmp)
