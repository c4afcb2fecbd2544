#!/usr/bin/env bash
# The operator's guide: pictures of every window into docs/img/ (windowshots
# under Xvfb, with a window manager so that each window shows its caption),
# then the guide as PDF, build/docs/guia-del-operador.pdf (kivo-docpdf: Qt's
# own Markdown reader into its PDF writer). ./run --docs calls it.
#   scripts/docs.sh --pdf   only the PDF, from the pictures in docs/img/
source "$(dirname "$0")/common.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${DOCS_PACKAGES[@]}"
PICTURES="$ROOT/docs/img"
PDF="$BUILD/docs/guia-del-operador.pdf"

shoot_windows() {
    build windowshots
    local shots="$BUILD/docs/shots"
    rm -rf "$shots"
    mkdir -p "$shots"
    # One screen of its own, its window manager, both runs of windowshots.
    xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
        openbox >/dev/null 2>&1 &
        for _ in $(seq 50); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
            sleep 0.1
        done
        "$1" "$2" && "$1" --sin-servidor "$2"
        status=$?
        kill $! 2>/dev/null
        exit $status' sh "$BUILD/tests/windows/windowshots" "$shots"
    mkdir -p "$PICTURES"
    cp "$shots"/*.png "$PICTURES/"
    echo "docs: $(ls "$shots" | wc -l) pictures in $PICTURES"
}

make_pdf() {
    build kivo-docpdf
    mkdir -p "$(dirname "$PDF")"
    QT_QPA_PLATFORM=offscreen "$BUILD/tools/docpdf/kivo-docpdf" "$ROOT/docs/guia-del-operador.md" "$PDF"
    echo "docs: $PDF"
}

if [ "${1:-}" != --pdf ]; then
    shoot_windows
fi
make_pdf
