; Script-Fu for scripts/test-gimp: fills selections with plug-in-mendora-fill in gimp-console
; and exports what the script compares: each layer before and after the fill as PNG, and the
; selection over it as a mask PNG (white wherever the selection is nonzero, black elsewhere).

(define (mendora-export img drawable path)
  ; interlace, compression, bKGD, gAMA, oFFs, pHYs, tIME, comment, colours of transparent
  ; pixels: no chunk that a pixel comparison could trip over, every colour kept
  (file-png-save2 RUN-NONINTERACTIVE img drawable path path 0 6 0 0 0 0 0 0 1))

; The selection over `layer` as a mask of the layer's size at the layer's offsets: a black
; layer filled white through the selection, exported and removed again.
(define (mendora-export-mask img layer path)
  (let* ((offsets (gimp-drawable-offsets layer))
         (mask (car (gimp-layer-new img (car (gimp-drawable-width layer))
                                    (car (gimp-drawable-height layer))
                                    (if (= (car (gimp-image-base-type img)) GRAY)
                                        GRAY-IMAGE
                                        RGB-IMAGE)
                                    "mask" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img mask 0 0)
    (gimp-layer-set-offsets mask (car offsets) (cadr offsets))
    (gimp-context-push)
    (gimp-context-set-foreground '(0 0 0))
    (gimp-context-set-opacity 100)
    (gimp-context-set-paint-mode LAYER-MODE-NORMAL)
    (gimp-drawable-fill mask FILL-FOREGROUND)
    (gimp-drawable-edit-fill mask FILL-WHITE)
    (gimp-context-pop)
    (mendora-export img mask path)
    (gimp-image-remove-layer img mask)))

(define (mendora-load path)
  (car (gimp-file-load RUN-NONINTERACTIVE path path)))

; Exports NAME-in.png and NAME-mask.png, fills the selection in `layer` with the default
; values and exports NAME-out.png.
(define (mendora-fill-and-export img layer dir name)
  (mendora-export img layer (string-append dir "/" name "-in.png"))
  (mendora-export-mask img layer (string-append dir "/" name "-mask.png"))
  (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)
  (mendora-export img layer (string-append dir "/" name "-out.png")))

; Hard selections (not antialiased: every selected pixel takes the fill's bytes): an ellipse on
; the photograph; a smaller layer at an offset, the selection reaching past its left edge; an
; RGBA layer whose alpha varies across the selection.
(define (mendora-fill-tests photo dir)
  (let* ((img (mendora-load photo))
         (base (car (gimp-image-get-active-layer img))))
    (gimp-context-set-antialias FALSE)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (mendora-fill-and-export img base dir "ellipse")
    ; the selection is as it was before the fill
    (mendora-export-mask img base (string-append dir "/ellipse-mask-after.png"))

    (let ((small (car (gimp-layer-copy base FALSE))))
      (gimp-image-insert-layer img small 0 0)
      (gimp-layer-resize small 300 200 -100 -80)
      (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 60 120 150 100)
      (mendora-fill-and-export img small dir "offset")
      (gimp-image-remove-layer img small))
    (mendora-export img base (string-append dir "/offset-base.png"))

    (let ((rgba (car (gimp-layer-copy base TRUE))))
      (gimp-image-insert-layer img rgba 0 0)
      (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 200 60 240 200)
      (gimp-drawable-levels rgba HISTOGRAM-ALPHA 0 1 TRUE 1.0 0 0.4 TRUE)
      (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 300 150 200 200)
      (gimp-drawable-levels rgba HISTOGRAM-ALPHA 0 1 TRUE 1.0 0 0.7 TRUE)
      (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 280 120 140 110)
      (mendora-fill-and-export img rgba dir "rgba"))
    (gimp-image-delete img)))

; A grey image and a 16-bit one (hard ellipses): the module sees them as 8-bit R'G'B', the
; fill goes back in their own format.
(define (mendora-format-tests photo dir)
  (let* ((grey (mendora-load photo))
         (deep (mendora-load photo)))
    (gimp-context-set-antialias FALSE)
    (gimp-image-convert-grayscale grey)
    (gimp-image-select-ellipse grey CHANNEL-OP-REPLACE 385 95 100 95)
    (mendora-fill-and-export grey (car (gimp-image-get-active-layer grey)) dir "grey")
    (gimp-image-convert-precision deep PRECISION-U16-GAMMA)
    (gimp-image-select-ellipse deep CHANNEL-OP-REPLACE 385 95 100 95)
    (mendora-fill-and-export deep (car (gimp-image-get-active-layer deep)) dir "u16")))

; The selection's 8-bit values (an 8-bit image's) over the photograph's layer as a plain PGM
; of the selection's bounds at DIR/NAME-strength.pgm, placed by its comment "# at X Y"; read
; pixel by pixel with gimp-selection-value, as an export and gimp-drawable-get-pixel hand
; out the linear mask in another curve.
(define (mendora-export-strength img dir name)
  (let* ((bounds (cdr (gimp-selection-bounds img)))
         (x1 (car bounds)) (y1 (cadr bounds)) (x2 (caddr bounds)) (y2 (cadddr bounds)))
    (call-with-output-file (string-append dir "/" name "-strength.pgm")
      (lambda (port)
        (display (string-append "P2\n# at " (number->string x1) " " (number->string y1) "\n"
                                (number->string (- x2 x1)) " " (number->string (- y2 y1))
                                "\n255\n") port)
        (let rows ((y y1))
          (if (< y y2)
              (begin
                (let columns ((x x1))
                  (if (< x x2)
                      (begin
                        (display (car (gimp-selection-value img x y)) port)
                        (display " " port)
                        (columns (+ x 1)))))
                (newline port)
                (rows (+ y 1)))))))))

; A feathered ellipse filled into the photograph's layer, with NAME-strength.pgm: "feather",
; and "feather16" in 16 bits, which blends in floats.
(define (mendora-feather-test photo dir)
  (mendora-feather photo dir "feather" #f)
  (mendora-feather photo dir "feather16" #t))

(define (mendora-feather photo dir name deep)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (if deep
        (gimp-image-convert-precision img PRECISION-U16-GAMMA))
    (gimp-context-push)
    (gimp-context-set-feather TRUE)
    (gimp-context-set-feather-radius 16 16)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (gimp-context-pop)
    (mendora-export-strength img dir name)
    (mendora-fill-and-export img layer dir name)
    (gimp-image-delete img)))

; The same ellipse filled from the band of 30 pixels around it, tones matched, through the
; procedure with the band and tone matching: "band".
(define (mendora-band-test photo dir)
  (let* ((made (mendora-hard-ellipse photo dir "band"))
         (img (car made)))
    (plug-in-mendora-fill-sampling RUN-NONINTERACTIVE img (cadr made) 4 0 0 0 0 0 0 30 1 -1)
    (mendora-export img (cadr made) (string-append dir "/band-out.png"))
    (gimp-image-delete img)))

; The same ellipse filled with texture only from a channel, a rectangle beside it saved as a
; selection: "channel", the channel exported as channel-area.png.
(define (mendora-channel-test photo dir)
  (let* ((made (mendora-hard-ellipse photo dir "channel"))
         (img (car made))
         (layer (cadr made)))
    (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 400 40 180 220)
    (let ((area (car (gimp-selection-save img))))
      (mendora-export-mask img layer (string-append dir "/channel-area.png"))
      (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
      (plug-in-mendora-fill-sampling RUN-NONINTERACTIVE img layer 4 0 0 0 0 0 0 0 0 area))
    (mendora-export img layer (string-append dir "/channel-out.png"))
    (gimp-image-delete img)))

; A band or a match-tone value out of range: refused (run by the tests one at a time).
(define (mendora-refused-sampling photo band match)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 385 95 100 95)
    (plug-in-mendora-fill-sampling RUN-NONINTERACTIVE img layer 4 0 0 0 0 0 0 band match -1)))

; A sampling area refused before the fill (run one at a time): `which` is 'speck for a channel
; "speck" of 5 x 5 pixels, too small for a patch; 'other for a channel of another image; else
; a band of 1 pixel around the ellipse.
(define (mendora-refused-channel photo which)
  (let* ((img (mendora-load photo))
         (other (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 450 50 5 5)
    (let ((speck (car (gimp-selection-save img))))
      (gimp-item-set-name speck "speck")
      (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 385 95 100 95)
      (plug-in-mendora-fill-sampling RUN-NONINTERACTIVE img layer 4 0 0 0 0 0 0
                                     (if (eq? which 'band) 1 0) 0
                                     (cond ((eq? which 'speck) speck)
                                           ((eq? which 'other) (car (gimp-selection-save other)))
                                           (else -1))))))

; The photograph with a hard ellipse selected, its layer exported as NAME-in.png and the
; selection as NAME-mask.png: a list of the image and the layer.
(define (mendora-hard-ellipse photo dir name)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-context-set-antialias FALSE)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (mendora-export img layer (string-append dir "/" name "-in.png"))
    (mendora-export-mask img layer (string-append dir "/" name "-mask.png"))
    (list img layer)))

; A hard ellipse filled into a new layer: "newlayer-after.png" the photograph's layer after,
; "newlayer-out.png" the top layer after, and DIR/newlayer-layers the number of layers and the
; top one's name.
(define (mendora-new-layer-test photo dir)
  (let* ((made (mendora-hard-ellipse photo dir "newlayer"))
         (img (car made))
         (layer (cadr made)))
    (plug-in-mendora-fill-context RUN-NONINTERACTIVE img layer 4 0 0 0 0 0 1)
    (mendora-export img layer (string-append dir "/newlayer-after.png"))
    (let ((added (vector-ref (cadr (gimp-image-get-layers img)) 0)))
      (mendora-export img added (string-append dir "/newlayer-out.png"))
      (call-with-output-file (string-append dir "/newlayer-layers")
        (lambda (port)
          (display (car (gimp-image-get-layers img)) port)
          (display " " port)
          (display (car (gimp-item-get-name added)) port))))
    (gimp-image-delete img)))

; A hard ellipse filled with texture from 30 pixels around it only: "context".
(define (mendora-context-test photo dir)
  (let* ((made (mendora-hard-ellipse photo dir "context"))
         (img (car made)))
    (plug-in-mendora-fill-context RUN-NONINTERACTIVE img (cadr made) 4 0 0 0 0 30 0)
    (mendora-export img (cadr made) (string-append dir "/context-out.png"))
    (gimp-image-delete img)))

; Nothing selected: the fill fails with its reason (the batch command reports it) and the
; image stays; mendora-export-first exports it afterwards.
(define (mendora-empty-test photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (mendora-export img layer (string-append dir "/empty-in.png"))
    (gimp-selection-none img)
    (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)))

(define (mendora-export-first path)
  (let* ((img (vector-ref (cadr (gimp-image-list)) 0)))
    (mendora-export img (car (gimp-image-get-active-layer img)) path)))

; In GIMP with a display, three steps, each ended by the test script pressing Ctrl+Z in the
; image's window: mendora-undo-fill fills a feathered ellipse into the layer (undo on: images
; loaded by a script start without) and names the image "mendora-filled"; mendora-undo-export
; exports the layer once the fill is undone, fills a hard ellipse into a new layer and names
; the image "mendora-newlayer"; mendora-undo-newlayer-export exports the layer left once the
; new layer is gone, and DIR/undo-newlayer-layers, how many layers there are. The keys may be
; handled before a step starts, so each waits (a bounded number of reads) for what undoing
; gives rather than for a change.
(define (mendora-undo-fill photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-undo-enable img)
    (mendora-export img layer (string-append dir "/undo-in.png"))
    (gimp-context-push)
    (gimp-context-set-feather TRUE)
    (gimp-context-set-feather-radius 16 16)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (gimp-context-pop)
    (gimp-display-new img)
    (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)
    (mendora-export img layer (string-append dir "/undo-filled.png"))
    (gimp-image-set-filename img (string-append dir "/mendora-filled.xcf"))
    (gimp-displays-flush)))

(define (mendora-undo-export photo dir)
  (let* ((img (vector-ref (cadr (gimp-image-list)) 0))
         (layer (car (gimp-image-get-active-layer img)))
         (original (mendora-load photo))
         (before (cadr (gimp-drawable-get-pixel
                        (car (gimp-image-get-active-layer original)) 310 145))))
    (gimp-image-delete original)
    (let loop ((tries 0))
      (if (and (< tries 100000)
               (not (equal? before (cadr (gimp-drawable-get-pixel layer 310 145)))))
          (loop (+ tries 1))))
    (mendora-export img layer (string-append dir "/undo-out.png"))
    (gimp-context-set-antialias FALSE)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (plug-in-mendora-fill-context RUN-NONINTERACTIVE img layer 4 0 0 0 0 0 1)
    (mendora-export img (vector-ref (cadr (gimp-image-get-layers img)) 0)
                    (string-append dir "/undo-newlayer-filled.png"))
    (gimp-image-set-filename img (string-append dir "/mendora-newlayer.xcf"))
    (gimp-displays-flush)))

(define (mendora-undo-newlayer-export dir)
  (let* ((img (vector-ref (cadr (gimp-image-list)) 0)))
    (let loop ((tries 0))
      (if (and (< tries 100000) (> (car (gimp-image-get-layers img)) 1))
          (loop (+ tries 1))))
    (mendora-export img (vector-ref (cadr (gimp-image-get-layers img)) 0)
                    (string-append dir "/undo-newlayer-out.png"))
    (call-with-output-file (string-append dir "/undo-newlayer-layers")
      (lambda (port) (display (car (gimp-image-get-layers img)) port)))))

; The dialog of an interactive run over an ellipse around the kite, for a screenshot.
(define (mendora-show-dialog photo)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 385 95 100 95)
    (gimp-display-new img)
    (gimp-displays-flush)
    (plug-in-mendora-fill RUN-INTERACTIVE img layer 4 0 0 0 0)))

; In GIMP with a display: the dialog of an interactive run over the hard ellipse of "dialog"
; and the image's one channel, the right part of the photograph (dialog-area.png; the test
; script chooses a band of 30 pixels within it, into a new layer, by keyboard), then the same
; again with the last values; exports the top layer after each ("dialog-out.png",
; "dialog-again.png") and DIR/dialog-layers, how many layers there are at the end.
(define (mendora-dialog-fill photo dir)
  (let* ((made (mendora-hard-ellipse photo dir "dialog"))
         (img (car made))
         (layer (cadr made)))
    (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 300 0 340 400)
    (gimp-selection-save img)
    (mendora-export-mask img layer (string-append dir "/dialog-area.png"))
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (gimp-display-new img)
    (gimp-displays-flush)
    (plug-in-mendora-fill RUN-INTERACTIVE img layer 4 0 0 0 0)
    (mendora-export img (vector-ref (cadr (gimp-image-get-layers img)) 0)
                    (string-append dir "/dialog-out.png"))
    (plug-in-mendora-fill RUN-WITH-LAST-VALS img layer 0 0 0 0 0)
    (mendora-export img (vector-ref (cadr (gimp-image-get-layers img)) 0)
                    (string-append dir "/dialog-again.png"))
    (call-with-output-file (string-append dir "/dialog-layers")
      (lambda (port) (display (car (gimp-image-get-layers img)) port)))))

; The photograph with alpha, a red block of 160 x 120 pixels at 280, 110 in its only layer made
; fully transparent: a list of the image and the layer.
(define (mendora-hidden-block photo)
  (let* ((img (mendora-load photo))
         (base (car (gimp-image-get-active-layer img))))
    (gimp-layer-add-alpha base)
    (gimp-context-push)
    (gimp-context-set-foreground '(255 0 0))
    (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 280 110 160 120)
    (gimp-drawable-edit-fill base FILL-FOREGROUND)
    (gimp-drawable-levels base HISTOGRAM-ALPHA 0 1 TRUE 1.0 0 0 TRUE)
    (gimp-context-pop)
    (list img base)))

; Texture only from visible pixels. NAME-in.png, NAME-out.png and NAME-visible.png (the
; visible image over the layer) of two fills: "hidden", the photograph's only layer with a
; red block around the selection made fully transparent; "letters", an opaque black block
; on a transparent layer over the photograph, filled where it is opaque.
(define (mendora-visible-tests photo dir)
  (let* ((made (mendora-hidden-block photo))
         (img (car made))
         (base (cadr made)))
    (gimp-context-push)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 320 140 80 60)
    (mendora-fill-visible img base dir "hidden")
    (gimp-image-delete img)

    (set! img (mendora-load photo))
    (let ((letters (car (gimp-layer-new img 640 400 RGBA-IMAGE "letters" 100
                                        LAYER-MODE-NORMAL))))
      (gimp-image-insert-layer img letters 0 0)
      (gimp-drawable-fill letters FILL-TRANSPARENT)
      (gimp-context-set-foreground '(0 0 0))
      (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 260 180 120 40)
      (gimp-drawable-edit-fill letters FILL-FOREGROUND)
      (gimp-image-select-item img CHANNEL-OP-REPLACE letters)
      (mendora-fill-visible img letters dir "letters"))
    (gimp-context-pop)
    (gimp-image-delete img)))

; Tones on a cut-out: a rectangle inside a fully transparent red block (as "hidden") filled
; with tones matched when `tone` is 1, not when 0; the layer as DIR/NAME-out.png. Every
; neighbour of the rectangle is transparent, no picture to meet: matching changes nothing.
(define (mendora-hidden-tone-test photo dir name tone)
  (let* ((made (mendora-hidden-block photo))
         (img (car made))
         (base (cadr made)))
    (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 330 145 60 50)
    (plug-in-mendora-fill-sampling RUN-NONINTERACTIVE img base 4 0 0 0 0 0 0 0 tone -1)
    (mendora-export img base (string-append dir "/" name "-out.png"))
    (gimp-image-delete img)))

(define (mendora-fill-visible img layer dir name)
  (let ((visible (car (gimp-layer-new-from-visible img img "visible"))))
    (gimp-image-insert-layer img visible 0 0)
    (mendora-export img visible (string-append dir "/" name "-visible.png"))
    (gimp-image-remove-layer img visible))
  (mendora-export-mask img layer (string-append dir "/" name "-mask.png"))
  (mendora-export img layer (string-append dir "/" name "-in.png"))
  (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)
  (mendora-export img layer (string-append dir "/" name "-out.png")))

; A call refused before anything runs, on a fresh image with an ellipse selected: `which` is
; 'group for an empty layer group on top, else the photograph's layer. The refusal ends the
; batch command; mendora-export-all exports what is left of the images afterwards.
(define (mendora-refused photo which radius left top right bottom)
  (let* ((img (mendora-load photo))
         (base (car (gimp-image-get-active-layer img)))
         (group (car (gimp-layer-group-new img))))
    (gimp-image-insert-layer img group 0 0)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 385 95 100 95)
    (plug-in-mendora-fill RUN-NONINTERACTIVE img (if (eq? which 'group) group base)
                          radius left top right bottom)))

; A call of plug-in-mendora-fill-context refused before anything runs (a fresh image with an
; ellipse selected): a context width or output beyond its range, or `channel` true for a new
; layer from a channel.
(define (mendora-refused-context photo context output channel)
  (let* ((img (mendora-load photo))
         (base (car (gimp-image-get-active-layer img)))
         (group (car (gimp-layer-group-new img)))
         (saved 0))
    (gimp-image-insert-layer img group 0 0)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 385 95 100 95)
    (set! saved (car (gimp-selection-save img)))
    (plug-in-mendora-fill-context RUN-NONINTERACTIVE img (if channel saved base)
                                  4 0 0 0 0 context output)))

; The photograph's layer of every image mendora-refused made (the images with a group) as
; DIR/left-N.png.
(define (mendora-export-all dir)
  (for-each (lambda (img)
              (let ((layers (cadr (gimp-image-get-layers img))))
                (if (= (vector-length layers) 2)
                    (mendora-export img (vector-ref layers 1)
                                    (string-append dir "/left-" (number->string img) ".png")))))
            (vector->list (cadr (gimp-image-list)))))

; In GIMP with a display: a long fill (the photograph at twice its size, a large ellipse)
; in an image named "mendora-closing" for the test script to close while the fill runs.
; Writes what the call returns to DIR/closing-call when it returns at all: Script-Fu answers
; (#t) for success and (#f) for a canceled call.
(define (mendora-closing-fill photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-scale img 1280 800)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 420 240 440 320)
    (gimp-image-set-filename img (string-append dir "/mendora-closing.xcf"))
    (gimp-display-new img)
    ; closed without a question
    (gimp-image-clean-all img)
    (gimp-displays-flush)
    (let ((answer (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)))
      (call-with-output-file (string-append dir "/closing-call")
        (lambda (port) (display answer port))))))

; DIR/closing-left holds the number of images left.
(define (mendora-closing-left dir)
  (call-with-output-file (string-append dir "/closing-left")
    (lambda (port) (display (car (gimp-image-list)) port))))

; Last values of another size than the plug-in's (two bytes, 50 and 0, which would make the
; radius 50 if read as its values): the fill runs with the defaults, those of scripts (not
; the dialog's first proposal): "last-values", a hard ellipse.
(define (mendora-last-values photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-context-set-antialias FALSE)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 385 95 100 95)
    (mendora-export img layer (string-append dir "/last-values-in.png"))
    (mendora-export-mask img layer (string-append dir "/last-values-mask.png"))
    (gimp-procedural-db-set-data "plug-in-mendora-fill" 2 #(50 0))
    (plug-in-mendora-fill RUN-WITH-LAST-VALS img layer 0 0 0 0 0)
    (mendora-export img layer (string-append dir "/last-values-out.png"))
    (gimp-image-delete img)))

; Calls refused before anything runs, each on a fresh photograph with a feathered ellipse
; selected: an indexed image, filled into the layer (output 0) or a new layer (1); and with
; 'other, a layer of another image.
(define (mendora-refused-indexed photo output)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-convert-indexed img CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 16 FALSE FALSE "")
    (mendora-select-feathered img)
    (plug-in-mendora-fill-context RUN-NONINTERACTIVE img layer 4 0 0 0 0 0 output)))

(define (mendora-refused-other photo)
  (let* ((img (mendora-load photo))
         (other (mendora-load photo)))
    (mendora-select-feathered img)
    (plug-in-mendora-fill RUN-NONINTERACTIVE img (car (gimp-image-get-active-layer other))
                          4 0 0 0 0)))

(define (mendora-select-feathered img)
  (gimp-context-push)
  (gimp-context-set-feather TRUE)
  (gimp-context-set-feather-radius 16 16)
  (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
  (gimp-context-pop))

; A fill with a failure injected at `moment` (the plug-in's test hook, through the file
; DIR/hook that MENDORA_GIMP_TEST_HOOK names): "close-at-start" and "close-at-write-back"
; close the image there, "throw" throws while the module fills. Writes what the call returns
; to DIR/hook-NAME-call when it returns at all; `output` 0 into the layer, 1 a new layer.
(define (mendora-hooked-fill photo dir moment name output)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (call-with-output-file (string-append dir "/hook")
      (lambda (port) (display moment port)))
    (let ((answer (plug-in-mendora-fill-context RUN-NONINTERACTIVE img layer 4 0 0 0 0 0
                                                output)))
      (call-with-output-file (string-append dir "/hook-" name "-call")
        (lambda (port) (display answer port))))))

; DIR/hook-left holds the number of images left.
(define (mendora-hook-left dir)
  (call-with-output-file (string-append dir "/hook-left")
    (lambda (port) (display (car (gimp-image-list)) port))))

; A cut-out with nothing below: the photograph's layer made transparent outside a large
; ellipse, and a 40 x 40 square selected across the cut-out's edge: "cutout", filled with
; texture from the visible pixels only, the transparent ones around not filled.
(define (mendora-cutout-test photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-layer-add-alpha layer)
    (gimp-context-set-antialias FALSE)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 80 40 480 320)
    (gimp-selection-invert img)
    (gimp-drawable-edit-clear layer)
    (gimp-image-select-rectangle img CHANNEL-OP-REPLACE 130 67 40 40)
    (mendora-fill-visible img layer dir "cutout")
    (gimp-image-delete img)))

; A fill that GIMP's Cancel ends at its third step: GIMP kills a plug-in whose progress is
; canceled, and the test has the plug-in end itself so there (MENDORA_TEST_CANCEL_AT_STEP=3 in
; GIMP's environment). Exports the layer before as DIR/cancel-in.png; the call fails.
(define (mendora-cancel-fill photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 250 100 120 90)
    (mendora-export img layer (string-append dir "/cancel-in.png"))
    (gimp-image-clean-all img)
    (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)))

; After the canceled fill, in the same session: DIR/cancel-state holds the number of layers and
; whether the image is dirty (an undo step would make it so), then the layer is exported as
; DIR/cancel-out.png.
(define (mendora-cancel-after dir)
  (let* ((img (vector-ref (cadr (gimp-image-list)) 0))
         (layer (car (gimp-image-get-active-layer img))))
    (call-with-output-file (string-append dir "/cancel-state")
      (lambda (port)
        (display (car (gimp-image-get-layers img)) port)
        (display " " port)
        (display (car (gimp-image-is-dirty img)) port)))
    (mendora-export img layer (string-append dir "/cancel-out.png"))))

; In GIMP with a display: a long fill (the photograph at twice its size, a large ellipse) in an
; image named "mendora-cancel" whose progress the test script cancels with GIMP's Cancel
; button. Exports the layer before as DIR/xcancel-in.png and after as DIR/xcancel-out.png, and
; writes DIR/xcancel-state: what the call returned ((#f) for a canceled call), the number of
; layers and whether the image is dirty (an undo step would make it so).
(define (mendora-cancel-ui-fill photo dir)
  (let* ((img (mendora-load photo))
         (layer (car (gimp-image-get-active-layer img))))
    (gimp-image-scale img 1280 800)
    (gimp-image-select-ellipse img CHANNEL-OP-REPLACE 420 240 440 320)
    (gimp-image-set-filename img (string-append dir "/mendora-cancel.xcf"))
    (mendora-export img layer (string-append dir "/xcancel-in.png"))
    (gimp-display-new img)
    (gimp-image-clean-all img)
    (gimp-displays-flush)
    (let ((answer (plug-in-mendora-fill RUN-NONINTERACTIVE img layer 4 0 0 0 0)))
      (call-with-output-file (string-append dir "/xcancel-state")
        (lambda (port)
          (display answer port)
          (display " " port)
          (display (car (gimp-image-get-layers img)) port)
          (display " " port)
          (display (car (gimp-image-is-dirty img)) port))))
    (mendora-export img layer (string-append dir "/xcancel-out.png"))
    (gimp-image-clean-all img)))
