#!/usr/bin/env python3
"""Writes a large SQL-like grammar for the benchmarks.

    bench/make-grammar.py OUTPUT.y

Statement families are built from verbs and object kinds (CREATE TABLE,
DROP INDEX ...), each with a few alternative tails of clauses. After its
verb and object a statement's items belong to that statement alone, so
every position in a tail is a state of its own: that is what makes the
state count large. Names may be any of many unreserved keywords, as in
real SQL dialects, so every state that expects a name or an expression
carries a long closure, one shift per keyword, and long lookahead sets:
that is what makes the listing large. The output is the same on every run.
"""
import random
import sys

VERBS = """CREATE ALTER DROP GRANT REVOKE COMMENT ANALYZE VACUUM REINDEX CLUSTER
REFRESH IMPORT EXPORT LOCK TRUNCATE RENAME COPY LOAD VALIDATE DESCRIBE""".split()

OBJECTS = """TABLE INDEX VIEW SEQUENCE SCHEMA DATABASE ROLE USER FUNCTION PROCEDURE
TRIGGER TYPE DOMAIN EXTENSION SERVER COLLATION CONVERSION OPERATOR POLICY
PUBLICATION SUBSCRIPTION STATISTICS TABLESPACE RULE""".split()

# Keywords that open a clause; reserved, so they never stand for a name.
CLAUSE_WORDS = """WITH WITHOUT OWNER SET RESET CASCADE RESTRICT USING WHERE FROM TO
AS ON FOR IN INTO BY OPTIONS DEFAULT CHECK UNIQUE PRIMARY FOREIGN REFERENCES
PARTITION INHERITS STORAGE COMPRESSION STATEMENT EACH ROW BEFORE AFTER INSTEAD
EXECUTE RETURNS LANGUAGE IMMUTABLE STABLE VOLATILE STRICT SECURITY DEFINER INVOKER
COST ROWS SUPPORT PARALLEL SAFE UNSAFE RESTRICTED LEAKPROOF WINDOW INCREMENT
MINVALUE MAXVALUE START CACHE CYCLE OWNED CONNECTION LIMIT TEMPLATE ENCODING
LOCALE TABLESPACES ALLOW VALID UNTIL PASSWORD INHERIT LOGIN REPLICATION BYPASS
ADMIN MEMBER HANDLER VALIDATOR VERSION SCHEMA_OPT NOWAIT SKIP LOCKED ONLY
CONCURRENTLY VERBOSE FREEZE FULL DISABLE ENABLE ALWAYS REPLICA FORCE NO
ACCESS METHOD INCLUDE NULLS DISTINCT FIRST LAST ASC DESC COLLATE""".split()

# Keywords that may also be used as names (column, table, option names).
UNRESERVED = """ABORT ABSOLUTE ACTION ADD AGGREGATE ALSO ASSERTION ASSIGNMENT AT
ATTACH ATTRIBUTE BACKWARD BEGIN_P CALLED CATALOG CHAIN CHARACTERISTICS CHECKPOINT
CLASS CLOSE COLUMNS COMMENTS COMMIT COMMITTED CONFIGURATION CONSTRAINTS CONTENT
CONTINUE CSV CURRENT CURSOR DATA DAY DEALLOCATE DECLARE DEFAULTS DEFERRED DELETE
DELIMITER DELIMITERS DEPENDS DETACH DICTIONARY DISCARD DOCUMENT ENCRYPTED ENUM
ESCAPE EVENT EXCLUDE EXCLUDING EXCLUSIVE EXPLAIN EXPRESSION EXTERNAL FAMILY
FILTER FINALIZE FOLLOWING FORWARD FUNCTIONS GENERATED GLOBAL GRANTED GROUPS
HEADER HOLD HOUR IDENTITY IMMEDIATE IMPLICIT INCLUDING INDEXES INLINE INPUT
INSENSITIVE INSERT ISOLATION KEY LABEL LARGE LEVEL LISTEN LOCAL LOCATION
MAPPING MATCH MATERIALIZED MINUTE MODE MONTH MOVE NAME NAMES NEW NEXT NFC NFD
NFKC NFKD NORMALIZED NOTHING NOTIFY OBJECT OF OFF OIDS OLD OPERATOR_P OPTION
ORDINALITY OTHERS OVER OVERRIDING PARSER PARTIAL PASSING PLANS PRECEDING
PREPARE PREPARED PRESERVE PRIOR PRIVILEGES PROCEDURAL PROCEDURES PROGRAM QUOTE
RANGE READ REASSIGN RECHECK RECURSIVE REF REFERENCING RELATIVE RELEASE REPEATABLE
REPLACE RESTART RETURN ROLLBACK ROLLUP ROUTINE ROUTINES RULES SAVEPOINT SCHEMAS
SCROLL SEARCH SECOND SEQUENCES SERIALIZABLE SESSION SETS SHARE SHOW SIMPLE SNAPSHOT
SQL STANDALONE STDIN STDOUT STORED STRIP SUBSCRIPTIONS SYSID SYSTEM TABLES TEMP
TEMPORARY TEXT TIES TRANSACTION TRANSFORM TRIGGERS TRUSTED TYPES UNBOUNDED
UNCOMMITTED UNENCRYPTED UNKNOWN UNLISTEN UNLOGGED UPDATE VALUE VALUES VARYING
VIEWS WHITESPACE WORK WRAPPER WRITE XML YEAR YES ZONE ABSENT ANY ARRAY ASENSITIVE
ATOMIC AUTHORIZATION BINARY BOTH BREADTH BUFFERS CASE CAST CHAR_P CHARACTER
COALESCE COLUMN CONFLICT CONSTRAINT CREATEDB CROSS CUBE DEC DECIMAL DEPTH
DETERMINISTIC DIAGNOSTICS DO DOUBLE DUMP ELSE END_P ERROR ESCAPES EVERY EXCEPT
EXCLUDED EXISTS_P EXTRACT FALSE_P FETCH FLOAT FORMAT FREEZE_P GREATEST GROUPING
HAVING HEAP HOLDS IMPORTING INDENT INNER INOUT INTEGER INTERSECT INTERVAL JOIN
JSON KEEP KEYS LATERAL LEADING LEAST LIKE LIMIT_P LOGGED MERGE METHODS NATIONAL
NATURAL NCHAR NONE NORMALIZE NULLIF NUMERIC OFFSET OUT OUTER OVERLAPS OVERLAY
PLACING POSITION PRECISION QUOTES REAL RETURNING SETOF SMALLINT SOME SUBSTRING
SYMMETRIC TABLESAMPLE THEN TIME TIMESTAMP TRAILING TREAT TRIM TRUE_P UNION
USING_P VARIADIC VARCHAR WHEN WITHIN XMLATTRIBUTES XMLCONCAT XMLELEMENT
XMLEXISTS XMLFOREST XMLNAMESPACES XMLPARSE XMLPI XMLROOT XMLSERIALIZE XMLTABLE""".split()

ALTERNATIVES = 2          # tails per statement family
CLAUSES = (2, 4)          # clauses per tail, drawn from this range


def clause(rng):
    """One clause: a keyword or two, then what follows it."""
    words = [rng.choice(CLAUSE_WORDS)]
    if rng.random() < 0.3:
        words.append(rng.choice(CLAUSE_WORDS))
    argument = rng.choices(
        ["name", "expr", "name_list", "NUMBER", "STRING", ""],
        weights=[3, 2, 1, 2, 2, 3])[0]
    return words + ([argument] if argument else [])


def statement_rules(rng):
    rules = []
    for verb in VERBS:
        for kind in OBJECTS:
            for _ in range(ALTERNATIVES):
                tail = []
                for _ in range(rng.randint(*CLAUSES)):
                    tail += clause(rng)
                rules.append(" ".join([verb, kind, "opt_if_exists", "qualified_name"] + tail))
    # Distinct tails only: two equal rules would be a conflict.
    return sorted(set(rules))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-grammar.py OUTPUT.y")
    rng = random.Random(6237)
    keywords = sorted(set(VERBS + OBJECTS + CLAUSE_WORDS + ["IF", "EXISTS", "AND", "OR", "NOT"]))
    lines = ["/* A large SQL-like grammar, written by bench/make-grammar.py. */"]
    lines += ["%token IDENT NUMBER STRING"]
    for start in range(0, len(keywords), 8):
        lines.append("%token " + " ".join(keywords[start:start + 8]))
    for start in range(0, len(UNRESERVED), 8):
        lines.append("%token " + " ".join(UNRESERVED[start:start + 8]))
    lines += ["%left OR", "%left AND", "%right NOT", "%left '=' '<' '>'",
              "%left '+' '-'", "%left '*' '/'", "", "%%", "",
              "statements: statement | statements ';' statement ;", "",
              "statement:"]
    rules = statement_rules(rng)
    lines += [("    " if i == 0 else "  | ") + rule for i, rule in enumerate(rules)]
    lines += ["  ;", "",
              "opt_if_exists: /* empty */ | IF EXISTS | IF NOT EXISTS ;",
              "qualified_name: col_id | qualified_name '.' col_id ;",
              "name: col_id ;",
              "name_list: name | name_list ',' name ;",
              "expr: expr OR expr | expr AND expr | NOT expr",
              "  | expr '=' expr | expr '<' expr | expr '>' expr",
              "  | expr '+' expr | expr '-' expr | expr '*' expr | expr '/' expr",
              "  | '(' expr ')' | NUMBER | STRING | qualified_name",
              "  | qualified_name '(' ')' | qualified_name '(' expr_list ')' ;",
              "expr_list: expr | expr_list ',' expr ;",
              "col_id: IDENT | unreserved_keyword ;",
              "unreserved_keyword:"]
    lines += [("    " if i == 0 else "  | ") + word for i, word in enumerate(UNRESERVED)]
    lines += ["  ;", "", "%%"]
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
