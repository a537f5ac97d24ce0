/*
 * units.y -- the calculator language of calc.y, written in layers.
 *
 * The same statements and expressions as calc.y, but without precedence
 * declarations: each level of binding has a nonterminal of its own, and
 * the levels are joined by unit rules (expr ::= sum. sum ::= term. ...)
 * that have no code, so lemon may leave them out of its tables (only
 * without -c, and not all of them): those never show in the trace, and a
 * reduction then takes off a symbol other than the one its rule names.
 * There is no error rule either: lemon drops
 * the token that caused a syntax error and goes on, and only an error at
 * the end of input ends the parse.
 *
 *   lemon units.y && cc -Wall -o units units.c && ./units < input 2> trace
 * It exits with status 1 after a syntax error, 0 otherwise.
 */

%token_prefix TK_

/* A token's value: a NUMBER's value, or an IDENT's variable (0 for a).
   Every nonterminal has the same type, so a unit rule passes the value
   on as it is. */
%token_type {double}
%default_type {double}

/* lemon's default stack holds 100 entries; deeper nesting overflows it,
   and the parse starts again with the next token. */

%include {
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static double variables[26];
static int line_number = 1;
static int failed;
}

%syntax_error { fprintf(stderr, "line %d: syntax error\n", line_number); failed = 1; }
%parse_failure { failed = 1; }
%stack_overflow { fprintf(stderr, "line %d: too deeply nested\n", line_number); failed = 1; }

program ::= stmts.

stmts ::= .
stmts ::= stmts stmt.

/* The dangling else, without precedence: between an if and its else
   there may only be a closed statement, one whose ifs all have their
   else, so an else always goes to the nearest if. As in calc.y, a
   statement's code runs as soon as it is parsed: an if runs both its
   branches. */
stmt ::= closed.
stmt ::= open.

closed ::= simple.
closed ::= IF LPAREN expr RPAREN closed ELSE closed.
open ::= IF LPAREN expr RPAREN stmt.
open ::= IF LPAREN expr RPAREN closed ELSE open.

simple ::= expr(A) SEMI.                        { printf("%g\n", A); }
simple ::= IDENT(V) ASSIGN expr(A) SEMI.        { variables[(int) V] = A; }
simple ::= PRINT expr(A) SEMI.                  { printf("%g\n", A); }
simple ::= LBRACE stmts RBRACE.

/* Comparisons do not chain: both sides are sums. */
expr ::= sum.
expr(A) ::= sum(B) LT sum(C).                   { A = B < C; }
expr(A) ::= sum(B) GT sum(C).                   { A = B > C; }
expr(A) ::= sum(B) LE sum(C).                   { A = B <= C; }
expr(A) ::= sum(B) GE sum(C).                   { A = B >= C; }
expr(A) ::= sum(B) EQ sum(C).                   { A = B == C; }
expr(A) ::= sum(B) NE sum(C).                   { A = B != C; }

sum ::= term.
sum(A) ::= sum(B) PLUS term(C).                 { A = B + C; }
sum(A) ::= sum(B) MINUS term(C).                { A = B - C; }

term ::= factor.
term(A) ::= term(B) TIMES factor(C).            { A = B * C; }
term(A) ::= term(B) DIVIDE factor(C).           { A = C != 0 ? B / C : 0; }
term(A) ::= term(B) MOD factor(C).              { A = (long) C != 0 ? (long) B % (long) C : 0; }

/* '^' groups to the right; a unary minus binds tighter: -x^2 is (-x)^2. */
factor ::= unary.
factor(A) ::= unary(B) POWER factor(C).         { double r = 1; int n = (int) C; while (n-- > 0) r *= B; A = r; }

unary ::= primary.
unary(A) ::= MINUS unary(B).                    { A = -B; }

primary(A) ::= NUMBER(A).
primary(A) ::= IDENT(V).                        { A = variables[(int) V]; }
primary(A) ::= LPAREN expr(B) RPAREN.           { A = B; }

/* ILLEGAL is what the lexer returns for a character of no token. */
%token ILLEGAL.

%code {
/* Reads the character after an operator's first one: true, and it is
   consumed, if it is the expected one. */
static int followed_by(int expected)
{
    int c = getchar();
    if (c == expected) return 1;
    ungetc(c, stdin);
    return 0;
}

/* Reads the next token from standard input and its value into *value;
   0 at the end of input. */
static int next_token(double *value)
{
    int c;
    for (;;) {
        c = getchar();
        if (c == '\n') ++line_number;
        else if (c != ' ' && c != '\t' && c != '\r') break;
    }
    *value = 0;
    if (c == EOF) return 0;
    if (isdigit(c) || c == '.') {
        ungetc(c, stdin);
        if (scanf("%lf", value) != 1) *value = 0;
        return TK_NUMBER;
    }
    if (isalpha(c)) {
        char word[32];
        size_t length = 0;
        do {
            if (length + 1 < sizeof word) word[length++] = (char) c;
            c = getchar();
        } while (isalnum(c));
        ungetc(c, stdin);
        word[length] = '\0';
        if (strcmp(word, "print") == 0) return TK_PRINT;
        if (strcmp(word, "if") == 0) return TK_IF;
        if (strcmp(word, "else") == 0) return TK_ELSE;
        *value = tolower((unsigned char) word[0]) - 'a';
        return TK_IDENT;
    }
    switch (c) {
    case ';': return TK_SEMI;
    case '(': return TK_LPAREN;
    case ')': return TK_RPAREN;
    case '{': return TK_LBRACE;
    case '}': return TK_RBRACE;
    case '+': return TK_PLUS;
    case '-': return TK_MINUS;
    case '*': return TK_TIMES;
    case '/': return TK_DIVIDE;
    case '%': return TK_MOD;
    case '^': return TK_POWER;
    case '=': return followed_by('=') ? TK_EQ : TK_ASSIGN;
    case '<': return followed_by('=') ? TK_LE : TK_LT;
    case '>': return followed_by('=') ? TK_GE : TK_GT;
    case '!': if (followed_by('=')) return TK_NE; break;
    }
    return TK_ILLEGAL;
}

int main(void)
{
    void *parser;
    double value;
    int token;

    ParseTrace(stderr, "parser: ");
    parser = ParseAlloc(malloc);
    do {
        token = next_token(&value);
        Parse(parser, token, value);
    } while (token != 0);
    ParseFree(parser, free);
    return failed;
}
}
