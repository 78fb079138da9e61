# Runs inside the guest: times vrxpr -d against the same survey done with
# sg_persist, and the full drive scan of a run that finds no LU.
. /guest/lib.sh

LUS=${BENCH_LUS:-64}
X=naa.5001405000000001
Y=naa.5001405000000002

seconds() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 100 }'
}

# No sg device at all: discovery finds nothing and the drive scan tries
# every name.
t0=$(now_cs)
vrxpr -d > /tmp/scan.out
t1=$(now_cs)
echo "BENCH full drive scan (no LU, 32768 names): $(seconds $t0 $t1) s"
grep -q 'ROVT10660-I' /tmp/scan.out || echo "BENCH-ERROR: the scan did not end with message 13"

mkdir -p /var/target/pr
i=0
while [ $i -lt $LUS ]; do
    make_lu l$i ZORBELT "TQ22-B$i" SB$i 16
    i=$((i + 1))
done
make_target $X naa.500140500000000a
make_target $Y naa.500140500000000b
for t in $X $Y; do
    i=0
    while [ $i -lt $LUS ]; do
        export_lu $t $i l$i
        i=$((i + 1))
    done
done
HX=$(target_host $X)
HY=$(target_host $Y)
devs=
i=0
while [ $i -lt $LUS ]; do
    for h in $HX $HY; do
        d=$(sg_of $h $i)
        settle $d
        devs="$devs $d"
    done
    # The other node registers and reserves every LU, so that vrxpr sends
    # both READ KEYS and READ RESERVATION.
    d=$(sg_of $HY $i)
    persist --out --register --param-sark=0x$((1000 + i)) $d > /dev/null
    persist --out --reserve --param-rk=0x$((1000 + i)) --prout-type=5 $d > /dev/null
    i=$((i + 1))
done
n=$(echo $devs | wc -w)

t0=$(now_cs)
vrxpr -d > /tmp/list.out
t1=$(now_cs)
for d in $devs; do
    sg_persist --in --read-keys $d > /dev/null 2>&1
    sg_persist --in --read-reservation $d > /dev/null 2>&1
done
t2=$(now_cs)
rows=$(grep -c 'WriteExclusiveRegistrantOnly' /tmp/list.out)
[ "$rows" -eq "$n" ] || echo "BENCH-ERROR: the listing has $rows reserved rows, expected $n"

v=$(seconds $t0 $t1)
s=$(seconds $t1 $t2)
echo "BENCH vrxpr -d over $n LU paths ($LUS LUs, 2 hosts): $v s"
echo "BENCH sg_persist --read-keys and --read-reservation loop over $n sg devices: $s s"
awk -v v="$((t1 - t0))" -v s="$((t2 - t1))" 'BEGIN {
    if (v > 0) printf "BENCH ratio sg_persist loop / vrxpr -d: %.1f\n", s / v
    else print "BENCH ratio sg_persist loop / vrxpr -d: vrxpr under 10 ms" }'
