# Runs inside the guest: times vrxpr -d over BENCH_LUS managed LUs seen
# through two hosts against the floor program (the unavoidable work in one
# process) and against its commands alone, and the full drive scan of a run
# that finds no LU. BENCH_LAYOUT: "two" targets per host (LUNs below 200),
# or "one" (LUNs 0 to BENCH_LUS-1 on one target).
. /guest/lib.sh

LUS=${BENCH_LUS:-64}
LAYOUT=${BENCH_LAYOUT:-two}
[ "$LAYOUT" = one ] && MANY_PER_TARGET=$LUS
ROUNDS=5
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
make_many b $LUS $X $Y || echo "BENCH-ERROR: not every path appeared"
HX=$(target_host $X)
HY=$(target_host $Y)
devs=
i=0
while [ $i -lt $LUS ]; do
    devs="$devs $(many_sg $HX $i) $(many_sg $HY $i)"
    # The other node registers and reserves every LU, so that vrxpr sends
    # both READ KEYS and READ RESERVATION.
    d=$(many_sg $HY $i)
    persist --out --register --param-sark=0x$((1000 + i)) $d > /dev/null
    persist --out --reserve --param-rk=0x$((1000 + i)) --prout-type=5 $d > /dev/null
    i=$((i + 1))
done
n=$(echo $devs | wc -w)
# The first command on each new device reports UNIT ATTENTION; neither
# timed program should pay for that.
for d in $devs; do sg_turs $d > /dev/null 2>&1; done

floor > /tmp/floor.out
cat /tmp/floor.out
grep -q "floor: $n paths, $n sg devices, 0 failures" /tmp/floor.out ||
    echo "BENCH-ERROR: the floor program did not see $n clean paths"

# Alternating, so that both see the same load on the machine.
v=0
f=0
p=0
r=0
while [ $r -lt $ROUNDS ]; do
    t0=$(now_cs)
    vrxpr -d > /tmp/list.out
    t1=$(now_cs)
    floor > /dev/null
    t2=$(now_cs)
    floor 0 pr > /dev/null
    t3=$(now_cs)
    v=$((v + t1 - t0))
    f=$((f + t2 - t1))
    p=$((p + t3 - t2))
    r=$((r + 1))
done
rows=$(grep -c 'WriteExclusiveRegistrantOnly' /tmp/list.out)
[ "$rows" -eq "$n" ] || echo "BENCH-ERROR: the listing has $rows reserved rows, expected $n"

awk -v n=$n -v lus=$LUS -v r=$ROUNDS -v v=$v -v f=$f -v p=$p -v layout=$LAYOUT 'BEGIN {
    printf "BENCH vrxpr -d over %d LU paths (%d LUs, 2 hosts, %s target(s) per host): %.3f s, %.2f ms per path\n",
        n, lus, layout, v / r / 100, v * 10 / r / n
    printf "BENCH floor program over the same %d paths: %.3f s, %.2f ms per path\n",
        n, f / r / 100, f * 10 / r / n
    printf "BENCH floor without discovery (READ KEYS and READ RESERVATION alone): %.3f s\n", p / r / 100
    if (f > 0) printf "BENCH ratio vrxpr -d / floor at %d paths: %.2f\n", n, v / f
    if (p > 0) printf "BENCH ratio vrxpr -d / floor without discovery at %d paths: %.2f\n", n, v / p }'

# The same work for 128 of the paths, with all of them present: what the
# number of devices alone costs each path.
if [ $n -gt 128 ]; then
    t0=$(now_cs)
    r=0
    while [ $r -lt $ROUNDS ]; do
        floor 128 > /dev/null
        r=$((r + 1))
    done
    t1=$(now_cs)
    awk -v n=$n -v r=$ROUNDS -v f=$((t1 - t0)) 'BEGIN {
        printf "BENCH floor program over 128 of the %d paths: %.2f ms per path\n", n, f * 10 / r / 128 }'
fi

if [ $LUS -le 64 ]; then
    t0=$(now_cs)
    for d in $devs; do
        sg_persist --in --read-keys $d > /dev/null 2>&1
        sg_persist --in --read-reservation $d > /dev/null 2>&1
    done
    t1=$(now_cs)
    echo "BENCH sg_persist --read-keys and --read-reservation loop over $n sg devices: $(seconds $t0 $t1) s"
fi
