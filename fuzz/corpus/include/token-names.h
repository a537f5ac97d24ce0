#define END_OF_INPUT -1
#define NOTHING 0
#define ERRTOK 256
#define LOW 31
#define SPACE 32
#define TOP 255
