# Sorts the ThreadSanitizer reports of a run (scripts/sanitize tsan) that
# tsan.supp cannot name: Debian's Qt libraries carry no symbols for their
# inner functions, so a race between two accesses that Qt's own code makes
# (say, Qt's post-event queue, grown by the thread that posts and compacted
# by the thread that delivers, under a QMutex ThreadSanitizer cannot see)
# shows only "<null>" frames in libQt5*.so, which no suppression can match
# without matching every report.
#
# A data race counts as Qt's own when both racing accesses were made by a
# call from inside a Qt library (or GLib, below Qt's event dispatcher): the
# first frame past ThreadSanitizer's interceptor lies there. Any other report,
# or any other kind of report, is the program's, and fails the run.
#
# Usage: awk -f tsan_qt_internal.awk REPORT-FILE...
# Prints the program's reports in full and a count of both; exit status 1
# when the program has any.

function qt_made(frames,    n, i, parts)
{
    # frames: the access's frame lines, "\n"-separated.
    n = split(frames, parts, "\n")
    for (i = 1; i <= n; i++) {
        if (parts[i] == "")
            continue
        if (parts[i] ~ /\(libtsan\.so/)
            continue # the interceptor itself
        return parts[i] ~ /\(libQt5[A-Za-z]*\.so[.0-9]*\+0x[0-9a-f]+\)$/ \
            || parts[i] ~ /\(libglib-2\.0\.so[.0-9]*\+0x[0-9a-f]+\)$/
    }
    return 0
}

function finish_report(    accesses, qt)
{
    if (!in_report)
        return
    in_report = 0
    accesses = (access1 != "") + (access2 != "")
    qt = is_race && accesses == 2 && qt_made(access1) && qt_made(access2)
    # On a thread of Qt's own pool (Qt Gui scales large images there), an
    # access Qt made against one whose stack is lost: the memory is Qt's.
    if (is_race && accesses == 1 && lost_stack && pooled && qt_made(access1 access2))
        qt = 1
    if (qt) {
        qt_internal++
    } else {
        program++
        printf "%s", report
    }
}

/^WARNING: ThreadSanitizer:/ {
    finish_report()
    in_report = 1
    report = ""
    is_race = ($0 ~ /: data race/)
    lost_stack = pooled = 0
    access1 = access2 = ""
    section = 0
}

in_report {
    report = report $0 "\n"
    if ($0 ~ /failed to restore the stack/)
        lost_stack = 1
    if ($0 ~ /^  Thread T[0-9]+ .Thread \(pooled\)./)
        pooled = 1
    if ($0 ~ /^  [A-Z]/) {
        # A new section: an access ("Write of size 8 at ...", "Previous
        # read ...", "Atomic write ..."), or something else.
        if ($0 ~ /^  (Previous )?([Aa]tomic )?([Rr]ead|[Ww]rite) of size/)
            section = (access1 == "" && section == 0) ? 1 : 2
        else
            section = 3
    } else if ($0 ~ /^    #[0-9]+ /) {
        if (section == 1)
            access1 = access1 $0 "\n"
        else if (section == 2)
            access2 = access2 $0 "\n"
    }
}

/^SUMMARY: ThreadSanitizer:/ {
    finish_report()
}

END {
    finish_report()
    printf "ThreadSanitizer reports: %d of the program, %d inside Qt's own code\n", program, qt_internal
    exit (program > 0)
}
