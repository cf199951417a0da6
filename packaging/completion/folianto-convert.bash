# bash completion for folianto-convert

_folianto_convert_images() {
    # Folders, and the files whose extension the converter reads (any case).
    local f lower
    while IFS= read -r f; do
        lower=${f,,}
        if [[ -d $f ]]; then
            COMPREPLY+=("$f")
            continue
        fi
        case $lower in
            *.tif | *.tiff | *.fax | *.g3n | *.g3f | *.gif | *.jpg | *.jpeg | *.jpe | *.pcx | *.bmp | *.dib | *.rle | \
                *.ico | *.cur | *.png | *.wmf | *.emf | *.tga | *.targa | *.vda | *.icb | *.vst | *.pix | *.pxm | *.ppm | \
                *.pgm | *.pbm | *.wbmp | *.jp2 | *.j2k | *.jpc | *.j2c)
                COMPREPLY+=("$f")
                ;;
        esac
    done < <(compgen -f -- "$1")
}

_folianto_convert() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # With the default COMP_WORDBREAKS, "--paper=A4" arrives as "--paper" "=" "A4".
    if [[ $cur == "=" ]]; then
        cur=""
    elif [[ $prev == "=" ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    COMPREPLY=()
    case $prev in
        -c | --compression)
            mapfile -t COMPREPLY < <(compgen -W "none rle g4 g3 dct flate auto" -- "$cur")
            return
            ;;
        -p | --paper)
            mapfile -t COMPREPLY < <(compgen -W "A0 A1 A2 A3 A4 A5 A6 B5 Letter Legal Ledger 11x17 Fit image" -- "$cur")
            return
            ;;
        --sort)
            mapfile -t COMPREPLY < <(compgen -W "none natural name" -- "$cur")
            return
            ;;
        --alpha)
            mapfile -t COMPREPLY < <(compgen -W "flatten keep" -- "$cur")
            return
            ;;
        -o | --output | --from-file)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        -j | --jobs)
            mapfile -t COMPREPLY < <(compgen -W "1 2 4 $(nproc 2>/dev/null)" -- "$cur")
            return
            ;;
        --title | --subject | --author | --keywords)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "-o --output -f --force -c --compression -p --paper --title --subject
            --author --keywords --open --no-auto-orient --from-file -0 --null -r --recursive --sort --alpha --info -j --jobs -q --quiet -v --verbose -h --help
            -V --version --" -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    _folianto_convert_images "$cur"
}

complete -F _folianto_convert folianto-convert
