#!/usr/bin/env bash
# Renders the pictures from their SVG sources (needs librsvg2-bin, imagemagick and python3).
set -euo pipefail
cd "$(dirname "$0")"
for picture in app AppLogo account filter; do
    rsvg-convert -w 32 -h 32 "$picture.svg" -o "$picture.png"
done
rsvg-convert -w 16 -h 16 app.svg -o app16.png
rsvg-convert -w 16 -h 16 cancel.svg -o cancel.png
rsvg-convert -w 16 -h 16 ok.svg -o ok.png
# The tray icon's states: each at the tray's two usual sizes.
for state in failing settings paused; do
    rsvg-convert -w 32 -h 32 "tray-$state.svg" -o "tray-$state.png"
    rsvg-convert -w 16 -h 16 "tray-$state.svg" -o "tray-${state}16.png"
done
# The navigation list's image list: seven 32 x 32 pictures side by side, in image order.
work=$(mktemp -d)
for picture in accounts address content attachment statistics configuration subject; do
    rsvg-convert -w 32 -h 32 "nav-$picture.svg" -o "$work/$picture.png"
done
(cd "$work" && convert -background none accounts.png address.png content.png attachment.png \
    statistics.png configuration.png subject.png +append +repage ImageList1.png)
mv "$work/ImageList1.png" ImageList1.png
rm -rf "$work"
# Unfiltered rows, stored uncompressed: the cheapest PNGs to read at start-up.
./plain_png.py app.png AppLogo.png account.png filter.png app16.png cancel.png ok.png ImageList1.png \
    tray-failing.png tray-settings.png tray-paused.png tray-failing16.png tray-settings16.png \
    tray-paused16.png
