/* An odd-sized block for the firmware linked behind a boot loader (offset.ld): the section
   after it is aligned, so padding lies between them in the same segment. */
__attribute__((section(".version"), used)) const char firmware_version[3] = {'2', '.', '1'};
