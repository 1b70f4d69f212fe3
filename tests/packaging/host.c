/* A tiny host built against an installed TARVO. */
#include <stdio.h>
#include <tarvo.h>

int main(void) {
  /* COM9 is refused before any device is touched, so this runs anywhere. */
  int refused = IniciaDriver("COM9");
  int noMessage = DoMessage();
  printf("%d %d %d\n", refused, noMessage, FC_Finaliza());
  return refused == TARVO_BAD_CHANNEL && noMessage == 0 ? 0 : 1;
}
