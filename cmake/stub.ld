/* Section layout of the stub (both builds). Every section is padded to the
   file alignment (512 bytes), so the stub keeps as few sections as it can:

     .text   code and constants: read-only, executable
     .data   initialised writable data (the stub has none, so ld drops it)
     .bss    zero-initialised writable data, no space in the file
     .idata  the import tables, as the linker's own layout has them
     .rsrc   resources
     .reloc  base relocations (the stub stays relocatable)

   No section is both writable and executable. The import tables stay in a
   section of their own named .idata: that name is how the linker finds the
   import directory. (Its other way, symbols named .idata$2 to .idata$6,
   makes it drop the base relocations of import thunks that refer to those
   sections; host_stub_relocation_tests catches that.) */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    *(.rdata)
    *(SORT(.rdata$*))
    *(.xdata*)
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data)
    *(.data2)
    *(SORT(.data$*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(COMMON)
  }
  /* One descriptor per library and an empty one, the lookup tables, the
     address table, the names. */
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
  .pdata BLOCK(__section_alignment__) :
  {
    KEEP (*(.pdata*))
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /* Debugging information of a build with -g: after everything the loader
     maps, as in the linker's own layout. */
  .debug_aranges BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_aranges) }
  .debug_pubnames BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_pubnames) }
  .debug_info BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_info .gnu.linkonce.wi.*) }
  .debug_abbrev BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_abbrev) }
  .debug_line BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_line) }
  .debug_frame BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_frame*) }
  .debug_str BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_str) }
  .debug_loc BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_loc) }
  .debug_macinfo BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_macinfo) }
  .debug_pubtypes BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_pubtypes) }
  .debug_ranges BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_ranges) }
  .debug_types BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_types .gnu.linkonce.wt.*) }
  .debug_addr BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_addr) }
  .debug_line_str BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_line_str) }
  .debug_loclists BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_loclists) }
  .debug_macro BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_macro) }
  .debug_names BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_names) }
  .debug_rnglists BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_rnglists) }
  .debug_str_offsets BLOCK(__section_alignment__) (NOLOAD) : { *(.debug_str_offsets) }
  /DISCARD/ :
  {
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
  }
}
