/*
 * calc.y -- the calculator language of ../calc.y, as a lemon grammar.
 *
 * Statements end in ';': an expression, an assignment to a one-letter
 * variable, `print expr;`, `if (expr) statement [else statement]` and
 * `{ statements }`. A bad statement is skipped up to its ';'.
 *
 * The lexer and main() are below; the program reads standard input and
 * writes lemon's parser trace to standard error, every line of it
 * starting with "parser: ":
 *   lemon calc.y && cc -Wall -o calc calc.c && ./calc < input 2> trace
 * It exits with status 0 when the parse ends in acceptance, errors and
 * all, and 1 when a syntax error could not be recovered from: one at the
 * end of input, or one whose statement the input ends in before its ';'.
 */

%token_prefix TK_

/* A token's value: a NUMBER's value, or an IDENT's variable (0 for a). */
%token_type {double}
%type expr {double}

/* A stack that grows as needed: lemon's default, 100 entries, would
   overflow on 100 nested parentheses. */
%stack_size 0

%include {
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static double variables[26];
static int line_number = 1;
static int accepted;
}

%syntax_error { fprintf(stderr, "line %d: syntax error\n", line_number); }
%parse_accept { accepted = 1; }

/* The dangling else: ELSE binds tighter than an if without one, so it
   is shifted, to the nearest if. A rule's precedence is that of its
   leftmost terminal that has one: here IF. */
%nonassoc IF.
%nonassoc ELSE.
%nonassoc EQ NE LT GT LE GE.
%left PLUS MINUS.
%left TIMES DIVIDE MOD.
%right POWER.
%right UMINUS.

program ::= stmts.

/* Statements may be none, so that an error in the first one is still
   recovered from: lemon will not shift error onto an empty stack, and
   with stmts reduced first the stack is never empty. */
stmts ::= .
stmts ::= stmts stmt.

stmt ::= expr(A) SEMI.                          { printf("%g\n", A); }
stmt ::= IDENT(V) ASSIGN expr(A) SEMI.          { variables[(int) V] = A; }
stmt ::= PRINT expr(A) SEMI.                    { printf("%g\n", A); }
/* A statement's code runs as soon as it is parsed, so an if runs both
   its branches: the language has no control flow. */
stmt ::= IF LPAREN expr RPAREN stmt.
stmt ::= IF LPAREN expr RPAREN stmt ELSE stmt.
stmt ::= LBRACE stmts RBRACE.
stmt ::= error SEMI.

/* Same label, no code: the NUMBER's value is the expr's. */
expr(A) ::= NUMBER(A).
expr(A) ::= IDENT(V).                           { A = variables[(int) V]; }
expr(A) ::= expr(B) PLUS expr(C).               { A = B + C; }
expr(A) ::= expr(B) MINUS expr(C).              { A = B - C; }
expr(A) ::= expr(B) TIMES expr(C).              { A = B * C; }
expr(A) ::= expr(B) DIVIDE expr(C).             { A = C != 0 ? B / C : 0; }
expr(A) ::= expr(B) MOD expr(C).                { A = (long) C != 0 ? (long) B % (long) C : 0; }
expr(A) ::= expr(B) POWER expr(C).              { double r = 1; int n = (int) C; while (n-- > 0) r *= B; A = r; }
expr(A) ::= expr(B) LT expr(C).                 { A = B < C; }
expr(A) ::= expr(B) GT expr(C).                 { A = B > C; }
expr(A) ::= expr(B) LE expr(C).                 { A = B <= C; }
expr(A) ::= expr(B) GE expr(C).                 { A = B >= C; }
expr(A) ::= expr(B) EQ expr(C).                 { A = B == C; }
expr(A) ::= expr(B) NE expr(C).                 { A = B != C; }

/* A unary minus binds tighter than any operator: -x^2 is (-x)^2. */
expr(A) ::= MINUS expr(B). [UMINUS]             { A = -B; }
expr(A) ::= LPAREN expr(B) RPAREN.              { A = B; }

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

    /* Tracing starts first, so that it shows the stack's first growth. */
    ParseTrace(stderr, "parser: ");
    parser = ParseAlloc(malloc);
    do {
        token = next_token(&value);
        Parse(parser, token, value);
    } while (token != 0);
    ParseFree(parser, free);
    return accepted ? 0 : 1;
}
}
