#!/usr/bin/env bash
# Veyla.exe under Wine: started (with arguments, which it ignores) in a directory holding
# veyla.txt, it ends at once with exit code 0 and the text editor comes up with that file:
# its caption names it and its text is the file's. Read and closed with qxrwinprobe.
# Inputs from CTest: VEYLA_EXE, VEYLA_TXT, QXR_WINPROBE.
. "$QXR_WINE_LIB"

qxr_wine_init veyla
qxr_wine_require_arch
qxr_wine_require_files "$VEYLA_EXE" "$VEYLA_TXT" "$QXR_WINPROBE" "$QXR_WINE_PROBE"
qxr_wine_prefix
qxr_wine_xvfb_start
qxr_wine_server_start
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$VEYLA_EXE" "$QXR_WINPROBE"
out=$QXR_WINE_DIR
# The programs run in the work directory (see qxr_wine_run): the file goes there.
cp "$VEYLA_TXT" "$out/veyla.txt"

rc=0
qxr_wine_run veyla 30 "$QXR_WINE_ARCH" Veyla.exe ignored arguments || rc=$?
qxr_expect_eq "$rc" 0 "Veyla exits with 0"
qxr_expect_eq "$(cat "$out/veyla.out")" "" "Veyla prints nothing"

if qxr_wine_run editor 60 "$QXR_WINE_ARCH" qxrwinprobe.exe waitpart veyla 30 dump close gone 10; then
    qxr_expect "$out/editor.out" '^window caption=veyla\.txt - Notepad$' \
        "the text editor's window names veyla.txt in its caption"
    first_lines=$(head -n 2 "$VEYLA_TXT" | tr -d '\r' | sed 's/$/\\\\r\\\\n/' | tr -d '\n')
    qxr_expect "$out/editor.out" "^control id=[0-9-]+ class=Edit enabled=1 text=$first_lines" \
        "the editor holds the text of veyla.txt"
else
    qxr_fail "no text editor window with veyla.txt"
fi

qxr_wine_finish
