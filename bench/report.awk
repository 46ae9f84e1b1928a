# Summarises benchmark runs, one line each of key=value fields from bench_run
# plus prog=, size= and run=, into the Markdown body of the benchmark report.
# Writes the medians for plotting to the file named by datfile, and the frame-time
# fits as gnuplot assignments to the file named by fitfile.

function median(list, n, a, i, j, t)
{
    n = split(list, a, " ")
    if (n == 0)
        return ""
    for (i = 2; i <= n; i++) {
        t = a[i] + 0
        for (j = i - 1; j >= 1 && a[j] + 0 > t; j--)
            a[j + 1] = a[j]
        a[j + 1] = t
    }
    return n % 2 ? a[(n + 1) / 2] + 0 : (a[n / 2] + a[n / 2 + 1]) / 2
}

function add(key, v)
{
    if (v == "" || v == "-")
        return
    vals[key] = (key in vals) ? vals[key] " " v : v
}

function pct(x)
{
    return sprintf(x < 0.1 && x > -0.1 ? "%.1f%%" : "%.0f%%", 100 * x)
}

function ratio(x)
{
    return sprintf(x >= 10 ? "%.0f×" : "%.2f×", x)
}

# frame time (ms) = fa[p] + fb[p] * megapixels, least squares weighted by
# 1/time^2 so that each size counts by its relative error: unweighted, the
# largest window's milliseconds would swamp the smallest's fixed part
function fit(p, i, n, x, y, w, sw, sx, sy, sxx, sxy, d, e)
{
    n = 0
    for (i = 1; i <= nsizes; i++) {
        if (!((p SUBSEP sizes[i]) in frameMs))
            continue
        x = sizes[i] * sizes[i] / 1e6
        y = frameMs[p, sizes[i]]
        w = 1 / (y * y)
        n++
        sw += w
        sx += w * x
        sy += w * y
        sxx += w * x * x
        sxy += w * x * y
    }
    d = sw * sxx - sx * sx
    if (n < 2 || d == 0)
        return 0
    fb[p] = (sw * sxy - sx * sy) / d
    fa[p] = (sy - fb[p] * sx) / sw
    fdev[p] = 0
    for (i = 1; i <= nsizes; i++) {
        if (!((p SUBSEP sizes[i]) in frameMs))
            continue
        y = frameMs[p, sizes[i]]
        e = (fa[p] + fb[p] * sizes[i] * sizes[i] / 1e6 - y) / y
        if (e < 0)
            e = -e
        if (e > fdev[p])
            fdev[p] = e
    }
    return fa[p] > 0 && fb[p] > 0
}

function fillShare(p, s)
{
    return fb[p] * s * s / 1e6 / (fa[p] + fb[p] * s * s / 1e6)
}

BEGIN {
    ncp = split("glutInit_begin glXQueryExtension glXQueryExtensionsString glutInit " \
                "glutCreateWindow glutAttachMenu glTexImage2D glutMainLoop first_swap_begin " \
                "first_swap", cp, " ")
    label[1] = "reading the third answer, until `glutInit` starts"
    label[2] = "`glutInit`: connecting to the X server"
    label[3] = "`glutInit`: loading Mesa's GL driver (first GLX screen query)"
    label[4] = "`glutInit`: the rest"
    label[5] = "`glutCreateWindow`: visual, window, GL context"
    label[6] = "callbacks and the pop-up menu"
    label[7] = "texture set-up: board, texture object, upload"
    label[8] = "view set-up, until `glutMainLoop`"
    label[9] = "first frame drawn, until its swap"
    label[10] = "first swap (copy to the X server)"
    # checkercube/baseline ratios are taken run by run: the two runs of a pair
    # follow each other and share the machine's load of the moment
    split("fps first_swap_ms rss_kb", pairKey, " ")
    progs[1] = "checkercube"
    progs[2] = "baseline"
}

{
    split("", f)
    for (i = 1; i <= NF; i++) {
        eq = index($i, "=")
        if (eq > 0)
            f[substr($i, 1, eq - 1)] = substr($i, eq + 1)
    }
    p = f["prog"]
    s = f["size"] + 0
    if (!(s in seenSize)) {
        seenSize[s] = 1
        sizes[++nsizes] = s
    }
    runs[p, s]++
    r = f["run"]
    if (r > maxRun)
        maxRun = r
    for (k = 1; k <= 3; k++)
        if (f[pairKey[k]] != "" && f[pairKey[k]] != "-")
            pair[p, s, r, k] = f[pairKey[k]]
    add(p SUBSEP s SUBSEP "fps", f["fps"])
    add(p SUBSEP s SUBSEP "first", f["first_swap_ms"])
    add(p SUBSEP s SUBSEP "rss", f["rss_kb"] / 1024)
    add(p SUBSEP "first", f["first_swap_ms"])
    # each phase runs from the previous checkpoint that this program passes
    prev = 0
    for (k = 1; k <= ncp; k++) {
        key = cp[k] "_ms"
        if ((key in f) && f[key] != "-") {
            add(p SUBSEP "phase" SUBSEP k, f[key] - prev)
            prev = f[key]
        }
    }
}

END {
    for (i = 1; i <= nsizes; i++) {
        s = sizes[i]
        for (j = 1; j <= 2; j++) {
            p = progs[j]
            fps[p, s] = median(vals[p, s, "fps"])
            first[p, s] = median(vals[p, s, "first"])
            rss[p, s] = median(vals[p, s, "rss"])
            if (fps[p, s] > 0)
                frameMs[p, s] = 1000 / fps[p, s]
        }
    }
    for (i = 1; i <= nsizes; i++)
        for (r = 1; r <= maxRun; r++)
            for (k = 1; k <= 3; k++)
                if ((("checkercube", sizes[i], r, k) in pair) && (("baseline", sizes[i], r, k) in pair) && pair["baseline", sizes[i], r, k] > 0)
                {
                    q = pair["checkercube", sizes[i], r, k] / pair["baseline", sizes[i], r, k]
                    add("ratio" SUBSEP sizes[i] SUBSEP k, q)
                    add("ratio" SUBSEP "all" SUBSEP k, q)
                }
    for (i = 1; i <= nsizes; i++)
        for (k = 1; k <= 3; k++)
            pr[sizes[i], k] = median(vals["ratio", sizes[i], k])
    lo = sizes[1]
    hi = sizes[nsizes]

    print "## Results"
    print ""
    printf "Medians of %d alternated runs per program and size.\n\n", runs["checkercube", lo]
    print "| window (px) | checkercube fps | baseline fps | fps ratio | first frame, checkercube (ms) | first frame, baseline (ms) | first-frame ratio | peak RSS, checkercube (MiB) | peak RSS, baseline (MiB) | RSS ratio |"
    print "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
    for (i = 1; i <= nsizes; i++) {
        s = sizes[i]
        printf "| %d | %.0f | %.0f | %.3f | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f |\n", s,
               fps["checkercube", s], fps["baseline", s], pr[s, 1], first["checkercube", s],
               first["baseline", s], pr[s, 2], rss["checkercube", s], rss["baseline", s], pr[s, 3]
        printf "%d %.2f %.2f\n", s, fps["checkercube", s], fps["baseline", s] > datfile
    }
    print ""
    print "Ratios are checkercube / baseline, taken in each alternated pair of runs; the"
    print "table gives their median. The first frame is timed from the moment the"
    print "third answer is written to the program's terminal to the return of its first"
    print "`glXSwapBuffers`. The frame rate counts swaps after the tenth."
    print ""

    print "## How the frame rate falls with window size"
    print ""
    rcc = pr[lo, 1]
    rhi = pr[hi, 1]
    fitted = nsizes > 1 && fit("checkercube") && fit("baseline")
    if (nsizes < 2) {
        printf "checkercube runs at %s the baseline's frame rate at %d px. A fit against\n", ratio(rcc), lo
        print "window size needs runs at two sizes or more."
        print ""
    } else if (!fitted) {
        printf "checkercube runs at %s the baseline's frame rate at %d px and %s at %d px.\n",
               ratio(rcc), lo, ratio(rhi), hi
        print "The medians were too noisy for a fit of frame time against pixel count to give a"
        print "positive fixed and per-pixel part; run again on a quieter machine."
        print ""
    } else {
        printf "checkercube runs at %s the baseline's frame rate at %d px and %s at %d px.\n",
               ratio(rcc), lo, ratio(rhi), hi
        printf "From %d to %d px (%.0f× the pixels) checkercube's frame rate falls to 1/%.1f of\n",
               lo, hi, hi * hi / (lo * lo), fps["checkercube", lo] / fps["checkercube", hi]
        printf "its value and the baseline's to 1/%.1f.\n\n", fps["baseline", lo] / fps["baseline", hi]
        print "A line through the median frame time (1/fps) against the pixel count, fitted by"
        print "least squares on relative error, splits each frame into a fixed part and a part"
        print "proportional to the window's area:"
        print ""
        print "| | fixed part, share of the frame at " lo " px | per-pixel part, share of the frame at " hi " px | window where both parts are equal | largest deviation of a median from the line |"
        print "|---|---:|---:|---:|---:|"
        for (j = 1; j <= 2; j++) {
            p = progs[j]
            cross = (fa[p] > 0 && fb[p] > 0) ? sprintf("%.0f × %.0f px", sqrt(fa[p] / fb[p] * 1e6), sqrt(fa[p] / fb[p] * 1e6)) : "-"
            printf "| %s | %s | %s | %s | %s |\n", p, pct(1 - fillShare(p, lo)), pct(fillShare(p, hi)), cross, pct(fdev[p])
        }
        print ""
        printf "Relative to the baseline, checkercube's fixed cost per frame is %s and its\n", ratio(fa["checkercube"] / fa["baseline"])
        printf "per-pixel cost %s. ", ratio(fb["checkercube"] / fb["baseline"])
        print "The fixed part is the per-frame overhead that does not"
        print "depend on the window: GLUT's event loop, GL state validation, llvmpipe's scene"
        print "set-up and the swap's round trip to the X server, plus for checkercube the six"
        print "immediate-mode polygons and their vertex processing. The per-pixel part is fill:"
        print "llvmpipe clearing the colour and depth buffers, rasterising and texturing the cube,"
        print "and copying each finished frame into Xvfb."
        print ""
        if (fillShare("checkercube", lo) < 0.5 && fillShare("checkercube", hi) > 0.5)
            printf "So small windows are bound by per-frame overhead and large ones by fill rate;\nthe turn lies near %.0f px.\n\n", sqrt(fa["checkercube"] / fb["checkercube"] * 1e6)
        else if (fillShare("checkercube", hi) > 0.5)
            print "So checkercube is bound by fill rate at every measured size.\n"
        else
            print "So checkercube is bound by per-frame overhead at every measured size.\n"
    }
    if (fitted)
        printf "fa_cc = %.6g; fb_cc = %.6g; fa_base = %.6g; fb_base = %.6g\n", fa["checkercube"], fb["checkercube"], fa["baseline"], fb["baseline"] > fitfile

    print "## Where start-up goes"
    print ""
    fcc = median(vals["checkercube", "first"])
    fbase = median(vals["baseline", "first"])
    printf "Over all pairs of runs, checkercube's first frame takes %s as long after the third\n", ratio(median(vals["ratio", "all", 2]))
    print "answer as the baseline's (median). Each phase below runs from the previous checkpoint that the"
    print "program passes (medians over all runs; shares are of the program's own median"
    print "first-frame latency):"
    print ""
    print "| phase | checkercube (ms) | share | baseline (ms) | share |"
    print "|---|---:|---:|---:|---:|"
    for (k = 1; k <= ncp; k++) {
        c = median(vals["checkercube", "phase", k])
        b = median(vals["baseline", "phase", k])
        printf "| %s | %s | %s | %s | %s |\n", label[k],
               c == "" ? "-" : sprintf("%.2f", c), c == "" ? "-" : pct(c / fcc),
               b == "" ? "-" : sprintf("%.2f", b), b == "" ? "-" : pct(b / fbase)
        phaseCc[k] = c
        phaseBase[k] = b
    }
    print ""
    printf "Loading Mesa's driver and the rest of GLUT's and GLX's set-up take %s of\n", pct((phaseCc[2] + phaseCc[3] + phaseCc[4] + phaseCc[5]) / fcc)
    printf "checkercube's first-frame latency. What the program itself asks for before its\n"
    printf "first frame takes %s: the pop-up menu %s, since freeglut gives the menu a window\n", pct((phaseCc[6] + phaseCc[7] + phaseCc[8]) / fcc), pct(phaseCc[6] / fcc)
    printf "and GL contexts of its own, and the texture set-up %s. Its first frame takes %s\n", pct(phaseCc[7] / fcc), ratio(phaseCc[9] / phaseBase[9])
    print "as long to draw as the baseline's:"
    print "the first textured draw makes llvmpipe generate and compile its shaders, which a"
    print "frame that only clears does not need."
    print ""

    print "## Memory"
    print ""
    rmin = 1e9
    rmax = 0
    for (i = 1; i <= nsizes; i++) {
        r = pr[sizes[i], 3]
        if (r < rmin)
            rmin = r
        if (r > rmax)
            rmax = r
    }
    printf "Peak resident memory (`ru_maxrss`) is %s to %s the baseline's.", ratio(rmin), ratio(rmax)
    if (nsizes > 1) {
        printf " From %d to %d px\n", lo, hi
        printf "checkercube's peak grows by %s and the baseline's by %s, with the window's\n", ratio(rss["checkercube", hi] / rss["checkercube", lo]), ratio(rss["baseline", hi] / rss["baseline", lo])
        print "area: its colour and depth buffers and the image that carries each frame to the"
        print "X server."
    } else
        print ""
    print "Most of either program's memory is the GL"
    print "driver itself, Mesa with LLVM. The gap that does not grow with the window is most"
    print "likely LLVM at work: checkercube's textured draw makes llvmpipe compile shaders,"
    print "while a frame that only clears compiles none."
}
