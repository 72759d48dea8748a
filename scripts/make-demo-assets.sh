#!/usr/bin/env bash
# Makes the pictures and test media of the demo installation (demo/<language>/): the background,
# the two pictures of the display choice, the result symbols and five short test media. Both
# languages get the same bytes, so git stores each file once. Needs ffmpeg.
#
#   scripts/make-demo-assets.sh [demo-folder]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
demo=${1:-$here/../demo}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }

# Background: a calm blue-green gradient with a lighter band for the result lines (8-bit palette).
ff -f lavfi -i "color=c=0x1f4e79:s=800x600:d=1" -frames:v 1 \
   -vf "geq=r='40+X/12':g='90+Y/6':b='150+(800-X)/10',drawbox=x=440:y=350:w=300:h=136:color=white@0.35:t=fill,drawbox=x=0:y=0:w=800:h=30:color=white@0.25:t=fill,format=pal8" \
   "$tmp/Hintergrund.bmp"
# The two display choices: a small window on a large screen, and the screen filled.
ff -f lavfi -i "color=c=0x303030:s=204x153:d=1" -frames:v 1 \
   -vf "drawbox=x=8:y=8:w=188:h=137:color=0x5b9bd5:t=fill,drawbox=x=52:y=40:w=100:h=72:color=0xffd966:t=fill,drawbox=x=52:y=40:w=100:h=10:color=0x404040:t=fill,format=pal8" \
   "$tmp/Bildlinks.bmp"
ff -f lavfi -i "color=c=0x303030:s=204x153:d=1" -frames:v 1 \
   -vf "drawbox=x=8:y=8:w=188:h=137:color=0xffd966:t=fill,drawbox=x=8:y=8:w=188:h=12:color=0x404040:t=fill,format=pal8" \
   "$tmp/Bildrechts.bmp"
# Result symbols on a white ground (white is the transparent colour: the bottom-left pixel).
ff -f lavfi -i "color=c=white:s=20x20:d=1" -frames:v 1 \
   -vf "geq=r='if(lt(abs(Y-X-7),2)*between(X,3,9)+lt(abs(X+Y-24),2)*between(X,8,17),20,255)':g='if(lt(abs(Y-X-7),2)*between(X,3,9)+lt(abs(X+Y-24),2)*between(X,8,17),150,255)':b='if(lt(abs(Y-X-7),2)*between(X,3,9)+lt(abs(X+Y-24),2)*between(X,8,17),40,255)',format=bgr24" \
   "$tmp/OK.bmp"
ff -f lavfi -i "color=c=white:s=20x20:d=1" -frames:v 1 \
   -vf "geq=r='if(between(X,3,16)*between(Y,3,16)*(lt(abs(X-Y),2)+lt(abs(X+Y-19),2)),210,255)':g='if(between(X,3,16)*between(Y,3,16)*(lt(abs(X-Y),2)+lt(abs(X+Y-19),2)),30,255)':b='if(between(X,3,16)*between(Y,3,16)*(lt(abs(X-Y),2)+lt(abs(X+Y-19),2)),30,255)',format=bgr24" \
   "$tmp/Fail.bmp"

# Test media: a two-note chime for the sounds, a moving test pattern with a tone for the videos.
ff -f lavfi -i "sine=f=523:d=0.6" -f lavfi -i "sine=f=784:d=0.6" \
   -filter_complex "[0][1]concat=n=2:v=0:a=1,volume=0.5,aresample=22050" -ac 1 -c:a pcm_s16le "$tmp/test.wav"
ff -i "$tmp/test.wav" -c:a libvorbis -q:a 0 "$tmp/test.ogg"
ff -i "$tmp/test.wav" -c:a libmp3lame -b:a 32k "$tmp/test.mp3"
ff -f lavfi -i "testsrc2=s=160x120:r=12:d=3" -f lavfi -i "sine=f=440:d=3" \
   -c:v mjpeg -q:v 12 -c:a pcm_u8 -ar 8000 -ac 1 "$tmp/test.avi"
ff -f lavfi -i "testsrc=s=160x120:r=25:d=3" -f lavfi -i "sine=f=660:d=3" \
   -c:v mpeg1video -b:v 120k -c:a mp2 -b:a 64k -ar 44100 -ac 1 -f mpeg "$tmp/test.mpg"

for lang in deutsch english; do
  mkdir -p "$demo/$lang"
  cp "$tmp"/*.bmp "$tmp"/test.* "$demo/$lang/"
done
ls -l "$demo/deutsch"
