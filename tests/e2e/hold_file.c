/* Holds a file open the way another program (the game, a virus scanner)
   would: hold_file PATH SHARE SECONDS, SHARE made of the letters r, w, d for
   the sharing modes allowed (or "-" for none). Prints "held" once the file
   is open, lets go after SECONDS. Cross-built for the Windows tests. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  DWORD share = 0;
  if (strchr(argv[2], 'r')) share |= FILE_SHARE_READ;
  if (strchr(argv[2], 'w')) share |= FILE_SHARE_WRITE;
  if (strchr(argv[2], 'd')) share |= FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  printf("held\n");
  fflush(stdout);
  Sleep((DWORD)(atof(argv[3]) * 1000));
  CloseHandle(file);
  return 0;
}
