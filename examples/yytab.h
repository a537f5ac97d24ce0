/*
 * yytab.h -- token numbers for the calc grammar (calc.y).
 *
 * Written by the parser generator; do not edit.  Tokens that are a single
 * character ('+', '-', '*', '/', '(', ')', '=', ';') are passed by their
 * character code and have no name here.  The error token is 256.
 */

#ifndef YYTAB_H
#define YYTAB_H

#define NUMBER 257
#define IDENT 258
#define PRINT 259

typedef union {
    double value;       /* NUMBER */
    int symbol;         /* IDENT: index in the symbol table */
} YYSTYPE;

extern YYSTYPE yylval;

#endif /* YYTAB_H */
