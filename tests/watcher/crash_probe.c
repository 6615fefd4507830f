/* A program that crashes at once: the end-to-end harness shows that a crash
   ends the program instead of waiting on a debugger that never ends. */
int main(void) {
  volatile int* nowhere = (volatile int*)0;
  *nowhere = 1;
  return 0;
}
