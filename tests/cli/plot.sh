#!/usr/bin/env bash
# zygomet-test --qq draws its picture with zygomet-plot-qq, found beside it,
# and itself needs no Qt.
#
#   plot.sh ZYGOMET_TEST
set -uo pipefail
program=$1
source "$(dirname "$0")/../support/checks.sh"

ldd "$program" | grep -qi qt && fail "zygomet-test links Qt: $(ldd "$program" | grep -i qt)"

{
  printf '%s\n' '##fileformat=VCFv4.2' '##FORMAT=<ID=GT,Number=1,Type=String,Description="G">'
  printf '#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\td\n'
  for m in 1 2 3 4 5 6; do
    printf '1\t%s\tm%s\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0/%s\n' "$m" "$m" $((m % 2))
    printf 'X\t%s\tx%s\tA\tG\t.\t.\t.\tGT\t0/0\t1\t0/1\t%s\n' $((5000000 + m)) "$m" $((m % 2))
  done
} >"$scratch/in.vcf"

for picture in qq.svg qq.png; do
  "$program" --file "$scratch/in.vcf" --qq "$scratch/$picture" --csv "$scratch/out.csv" \
    2>"$scratch/err.txt" || fail "--qq $picture: $(cat "$scratch/err.txt")"
done
head -c 200 "$scratch/qq.svg" | grep -q '<svg' || fail "qq.svg is no SVG picture"
[[ $(head -c 4 "$scratch/qq.png" | od -An -c | tr -d ' ') == 211PNG ]] || fail "qq.png is no PNG picture"

# A picture that cannot be written: status 1, one line, no file.
"$program" --file "$scratch/in.vcf" --qq "$scratch/none/qq.svg" --csv "$scratch/out2.csv" \
  2>"$scratch/err.txt"
status=$?
((status == 1)) || fail "an unwritable --qq ended with status $status, not 1"
[[ $(wc -l <"$scratch/err.txt") -eq 1 ]] || fail "its message is not one line: $(cat "$scratch/err.txt")"
[[ -e $scratch/none ]] && fail "an unwritable --qq left a file"

finish plot
