  enum yytokentype
  {
    YYEMPTY = -2,
    YYEOF = 0,   /* "end of file" */
    NUMBER = 258,  // NUMBER
    LAST = 267
    BIG = 2147483648,
    SUM = a + 1,
    EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEE = 9
    = 4,
  };
#define YYEMPTY -2
