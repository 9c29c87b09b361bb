#!/bin/sh
# strip as Debian's packaging strips: without the compilers' .comment and .note
# sections either.
exec strip --remove-section=.comment --remove-section=.note "$@"
