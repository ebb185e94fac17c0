#!/usr/bin/env bash
# Rebuilds the seed corpora in fuzz/corpus/ from the project's own samples.
# The frames of fuzz/corpus/fuzz_frame (the device's answer to every command,
# a refused password, a full read answer) are kept as they are: the link's
# framing is the devices', and does not change.
# Usage: fuzz/make_corpus.sh [BUILD_DIR]   (default: build/fuzz, made by the fuzz preset)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/fuzz}
bin=$build/bin
catalogue=$root/catalogue
samples=$catalogue/samples
corpus=$here/corpus

[[ -x $bin/configurator-cli ]] || { echo "missing $bin/configurator-cli: build the fuzz preset first" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

rm -rf "$corpus"/{fuzz_fields,fuzz_binary_sample,fuzz_binary_random,fuzz_xml_block,fuzz_settings}
mkdir -p "$corpus"/{fuzz_fields,fuzz_binary_sample,fuzz_binary_random,fuzz_xml_block,fuzz_settings}

# Frames: two answers back to back and a frame cut short.
cat "$corpus/fuzz_frame/identify-answer" "$corpus/fuzz_frame/read-answer" > "$corpus/fuzz_frame/two-answers"
head -c 20 "$corpus/fuzz_frame/read-answer" > "$corpus/fuzz_frame/read-answer-cut"

# Block images of the sample settings, and of the XML sample as the device would get them.
"$bin/configurator-cli" encode --catalogue "$catalogue" "$samples/transmitter-binary.cfg" "$scratch/bin"
"$bin/configurator-cli" encode --catalogue "$catalogue" "$samples/transmitter-xml.cfg" "$scratch/xml"
images=("$scratch"/bin/block{0,1,2,3,4}.bin)
total=$(cat "${images[@]}" | wc -c)

# fuzz_binary_sample: a first byte below E0 means exact sizes, E0 and above odd sizes.
{ printf '\x01'; cat "${images[@]}"; } > "$corpus/fuzz_binary_sample/sample-settings"
{ printf '\x02'; head -c "$total" /dev/zero; } > "$corpus/fuzz_binary_sample/zeros"
{ printf '\x03'; head -c "$total" /dev/zero | tr '\0' '\377'; } > "$corpus/fuzz_binary_sample/ones"
{ printf '\xf0'; cat "${images[@]}"; } > "$corpus/fuzz_binary_sample/sample-settings-odd-sizes"

# fuzz_fields and fuzz_binary_random read structure and bytes from anywhere: the images will do.
for n in 0 1 2 3 4; do
    cp "${images[$n]}" "$corpus/fuzz_fields/block$n"
    cp "${images[$n]}" "$corpus/fuzz_binary_random/block$n"
done

# fuzz_xml_block: the text of block 0, a NUL, the text of block 1.
{ cat "$samples/transmitter-xml-block0.xml"; printf '\0'; cat "$samples/transmitter-xml-block1.xml"; } \
    > "$corpus/fuzz_xml_block/sample-blocks"
cp "$samples/transmitter-xml-block0.xml" "$corpus/fuzz_xml_block/sample-block0"
cp "$samples/transmitter-xml-block1.xml" "$corpus/fuzz_xml_block/sample-block1"
{ cat "$scratch/xml/block0.xml"; printf '\0'; cat "$scratch/xml/block1.xml"; } > "$corpus/fuzz_xml_block/encoded-blocks"

# fuzz_settings: hardware code and version (16 bits each, low byte first), then the file.
{ printf '\x05\x00\x2c\x01'; cat "$samples/transmitter-binary.cfg"; } > "$corpus/fuzz_settings/binary-settings"
{ printf '\x07\x00\x78\x00'; cat "$samples/transmitter-xml.cfg"; } > "$corpus/fuzz_settings/xml-settings"
{ printf '\x07\x00\x78\x00'; iconv -f WINDOWS-1251 -t UTF-8 "$samples/transmitter-xml.cfg" \
    | sed 's/encoding="windows-1251"/encoding="utf-8"/'; } > "$corpus/fuzz_settings/xml-settings-utf8"
{ printf '\x05\x00\x2c\x01'; cat "$catalogue/transmitter-binary.xml"; } > "$corpus/fuzz_settings/binary-catalogue"
{ printf '\x07\x00\x78\x00'; cat "$catalogue/transmitter-xml.xml"; } > "$corpus/fuzz_settings/xml-catalogue"

find "$corpus" -type f | wc -l | xargs echo "seed files:"
