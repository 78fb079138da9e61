# Reads `objdump --dwarf=info` of an .exe; prints "name address" for every
# static object of type PR_DATA, the pass-through data buffers.
/DW_TAG_structure_type/ {
    match($0, /<1><[0-9a-f]+>/)
    die = "0x" substr($0, RSTART + 4, RLENGTH - 5)
    kind = "struct"
    next
}
/DW_TAG_variable/ { kind = "var"; vname = ""; vtype = ""; next }
/Abbrev Number/ { kind = ""; next }
kind == "struct" && /DW_AT_name/ && $NF == "PR_DATA" { prdata[die] = 1 }
kind == "var" && /DW_AT_name/ { vname = $NF }
kind == "var" && /DW_AT_type/ { t = $NF; gsub(/[<>]/, "", t); vtype = t }
kind == "var" && /DW_OP_addr:/ && (vtype in prdata) {
    a = $0
    sub(/.*DW_OP_addr: /, "", a)
    sub(/\).*/, "", a)
    print vname, a
}
