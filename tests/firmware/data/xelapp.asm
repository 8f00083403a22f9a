; A small application for the unit's microcontroller, built for the bootloader's
; layout: the bootloader keeps 0x0000-0x03FF, the application starts at 0x0400
; with its interrupt vectors at 0x0408 and 0x0418. The firmware tests assemble
; it to INHX32 and check what lands in each memory image.
        list    p=18f6722
        #include <p18f6722.inc>

        config  OSC=HSPLL, WDT=OFF, LVP=OFF

        __idlocs _IDLOC0, 0x1
        __idlocs _IDLOC1, 0x2
        __idlocs _IDLOC7, 0xF

        org     0x0400
start   goto    main

        org     0x0408
hi_isr  retfie  FAST

        org     0x0418
lo_isr  retfie  0
main    movlw   0x12
        movwf   PORTB, ACCESS
        bra     main
banner  db      "Xelor firmware image, version 2.1 (test build)", 0

        ; A table in the second 64 KB segment, so the image needs an
        ; extended linear address record below 0x20.
        org     0x01FF00
toptab  db      0xA5, 0x5A, 0xC3, 0x3C

        org     0xF00000
        de      "XELOR", 0
        org     0xF000FE
        de      0x12, 0x34

        end
